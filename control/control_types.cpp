#include "control/control_types.h"

#include "systools/wide_text.h"

namespace deruz::control {

std::wstring ExceptionMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EControlError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return systools::WideFromUtf8(e.what());
    } catch (...) {
        return L"Unknown error";
    }
}

}  // namespace deruz::control
