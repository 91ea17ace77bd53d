// The application-wide cursor on Windows. The identifiers map to the system cursors;
// crDefault stands for whatever cursor was showing before the first change, so popping the
// last saved entry restores exactly the host's cursor, custom or none.
#include <windows.h>

#include "systools/cursor.h"

namespace deruz::systools {

namespace {

// The system cursor shown for an identifier; identifiers without a system cursor of their
// own (application-defined ones above 0) show the arrow.
LPCWSTR SystemCursorName(TCursor ACr) {
    switch (ACr) {
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
    TCursor GetCursor() override { return FCurrent; }

    void SetCursor(TCursor ACr) override {
        if (FCurrent == crDefault && ACr != crDefault) FSaved = ::GetCursor();
        if (ACr == crDefault) {
            ::SetCursor(FSaved);
        } else if (ACr == crNone) {
            ::SetCursor(nullptr);
        } else {
            ::SetCursor(::LoadCursorW(nullptr, SystemCursorName(ACr)));
        }
        FCurrent = ACr;
    }

  private:
    TCursor FCurrent = crDefault;
    HCURSOR FSaved = nullptr;  // the cursor that crDefault brings back
};

}  // namespace

ICursorAccess& PlatformCursorAccess() {
    static TWinCursorAccess* const LAccess = new TWinCursorAccess;
    return *LAccess;
}

}  // namespace deruz::systools
