// Native builds run no GUI, so there is no application-wide cursor to change: the
// platform access only remembers the identifier last set.
#include "systools/cursor.h"

namespace deruz::systools {

namespace {

class TPosixCursorAccess final : public ICursorAccess {
  public:
    TCursor GetCursor() override { return current_; }
    void SetCursor(TCursor Cr) override { current_ = Cr; }

  private:
    TCursor current_ = crDefault;
};

}  // namespace

ICursorAccess& PlatformCursorAccess() {
    static TPosixCursorAccess* const access = new TPosixCursorAccess;
    return *access;
}

}  // namespace deruz::systools
