// The cursor stack: shows another application-wide mouse cursor for a while (the wait
// cursor while the link waits for the imaging application) and brings the previous one
// back afterwards. Cursors are 16-bit identifiers; the platform maps them to real cursors
// through ICursorAccess. The process-wide stack (PushCursor, PopCursor, PushWaitCursor) is
// guarded by a lock; a TCursorStack object itself is not thread-safe. Nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace deruz::systools {

using TCursor = std::int16_t;

constexpr TCursor crDefault = 0;  // the cursor that was in use before the link changed it
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;  // the wait cursor
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

// Reads and sets the application-wide cursor.
class ICursorAccess {
  public:
    virtual ~ICursorAccess() = default;
    virtual TCursor GetCursor() = 0;
    virtual void SetCursor(TCursor ACr) = 0;
};

// The platform's application-wide cursor; lives until the process ends.
ICursorAccess& PlatformCursorAccess();

// A stack of saved cursors over one cursor access.
class TCursorStack {
  public:
    explicit TCursorStack(ICursorAccess& ACcess) : FAccess(&ACcess) {}

    // Saves the current cursor and shows Cr.
    void Push(TCursor ACr);
    // Shows the most recently saved cursor again and forgets it; nothing when none is saved.
    void Pop();
    std::size_t Count() const { return FList.size(); }

    ICursorAccess& Access() const { return *FAccess; }
    void SetAccess(ICursorAccess& ACcess) { FAccess = &ACcess; }

  private:
    ICursorAccess* FAccess;
    std::vector<TCursor> FList;
};

// The process-wide stack, over PlatformCursorAccess() unless replaced.
void PushCursor(TCursor ACr);
void PopCursor();
void PushWaitCursor();

// Makes the process-wide stack read and set the cursor through Access (tests install a
// fake); returns the access used before. Access must outlive its use.
ICursorAccess& SetCursorAccess(ICursorAccess& ACcess);

}  // namespace deruz::systools
