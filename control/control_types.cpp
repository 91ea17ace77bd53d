#include "control/control_types.h"

#include "systools/wide_text.h"

namespace deruz::control {

std::wstring ExceptionMessage(std::exception_ptr AError) {
    try {
        std::rethrow_exception(std::move(AError));
    } catch (const EControlError& LE) {
        return LE.Message();
    } catch (const std::exception& LE) {
        return systools::WideFromUtf8(LE.what());
    } catch (...) {
        return L"Unknown error";
    }
}

}  // namespace deruz::control
