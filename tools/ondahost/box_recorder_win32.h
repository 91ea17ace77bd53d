// Records and dismisses the message boxes shown on the calling thread, so a host (ondahost,
// the end-to-end tests) can run the link with nobody at the screen and still see every box.
// A CBT hook on the thread dismisses each box as soon as it is activated and reads its
// caption, text and style when it is destroyed (Wine sets caption and text only after
// activation). One recorder per thread at a time; not thread-safe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace deruz::ondahost {

struct TRecordedBox {
    std::wstring Caption;
    std::wstring Text;
    std::uint32_t Style = 0;  // the icon's MB_ICON* flag, plus MB_SYSTEMMODAL when topmost
};

class TBoxRecorder {
  public:
    explicit TBoxRecorder(std::function<void(const TRecordedBox&)> AOnBox);
    ~TBoxRecorder();
    TBoxRecorder(const TBoxRecorder&) = delete;
    TBoxRecorder& operator=(const TBoxRecorder&) = delete;

  private:
    HHOOK FHook = nullptr;
};

}  // namespace deruz::ondahost
