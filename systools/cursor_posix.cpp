// Native builds run no GUI, so there is no application-wide cursor to change: the
// platform access only remembers the identifier last set.
#include "systools/cursor.h"

namespace deruz::systools {

namespace {

class TPosixCursorAccess final : public ICursorAccess {
  public:
    TCursor GetCursor() override { return FCurrent; }
    void SetCursor(TCursor ACr) override { FCurrent = ACr; }

  private:
    TCursor FCurrent = crDefault;
};

}  // namespace

ICursorAccess& PlatformCursorAccess() {
    static TPosixCursorAccess* const LAccess = new TPosixCursorAccess;
    return *LAccess;
}

}  // namespace deruz::systools
