// The application-wide cursor on Windows. The identifiers map to the system cursors;
// crDefault stands for whatever cursor was showing before the first change, so popping the
// last saved entry restores exactly the host's cursor, custom or none.
#include <windows.h>

#include "systools/cursor.h"

namespace deruz::systools {

namespace {

// The system cursor shown for an identifier; identifiers without a system cursor of their
// own (application-defined ones above 0) show the arrow.
LPCWSTR SystemCursorName(TCursor Cr) {
    switch (Cr) {
        case crCross:
            return IDC_CROSS;
        case crIBeam:
            return IDC_IBEAM;
        case crSizeNESW:
            return IDC_SIZENESW;
        case crSizeNS:
            return IDC_SIZENS;
        case crSizeNWSE:
            return IDC_SIZENWSE;
        case crSizeWE:
            return IDC_SIZEWE;
        case crUpArrow:
            return IDC_UPARROW;
        case crHourGlass:
            return IDC_WAIT;
        case crNo:
            return IDC_NO;
        case crAppStart:
            return IDC_APPSTARTING;
        case crHelp:
            return IDC_HELP;
        case crHandPoint:
            return IDC_HAND;
        case crSizeAll:
            return IDC_SIZEALL;
        default:
            return IDC_ARROW;
    }
}

class TWinCursorAccess final : public ICursorAccess {
  public:
    TCursor GetCursor() override { return current_; }

    void SetCursor(TCursor Cr) override {
        if (current_ == crDefault && Cr != crDefault) saved_ = ::GetCursor();
        if (Cr == crDefault) {
            ::SetCursor(saved_);
        } else if (Cr == crNone) {
            ::SetCursor(nullptr);
        } else {
            ::SetCursor(::LoadCursorW(nullptr, SystemCursorName(Cr)));
        }
        current_ = Cr;
    }

  private:
    TCursor current_ = crDefault;
    HCURSOR saved_ = nullptr;  // the cursor that crDefault brings back
};

}  // namespace

ICursorAccess& PlatformCursorAccess() {
    static TWinCursorAccess* const access = new TWinCursorAccess;
    return *access;
}

}  // namespace deruz::systools
