// Viewer contexts: building, escaping and loading the data blocks of log entries.
#include "logging/packets/viewer_context.h"

#include "logging/base/errors.h"
#include "logging/base/string_list.h"
#include "logging/base/strings.h"
#include "logging/packets/packet.h"

namespace deruz::logging {

namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};

// Reads a whole existing file, letting others only read it meanwhile.
std::string ReadFileDenyWrite(const std::string& AFileName) {
    std::uint32_t LError = 0;
    TSiFileHandle LFile = SiCreateFile(AFileName, faRead, fsRead, fcOpenExisting, LError);
    if (!LFile.IsOpen()) {
        throw ESiError("Cannot open file \"" + AFileName + "\". " + SiSystemErrorText(LError));
    }
    std::string LBytes;
    constexpr std::size_t LChunk = 65536;
    for (;;) {
        const std::size_t LOld = LBytes.size();
        LBytes.resize(LOld + LChunk);
        std::size_t LRead = 0;
        if (!LFile.Read(LBytes.data() + LOld, LChunk, LRead)) {
            throw ESiError("Stream read error");
        }
        LBytes.resize(LOld + LRead);
        if (LRead == 0) {
            return LBytes;
        }
    }
}

// Copies the whole of AStream from its first byte and puts AStream back at its position,
// also when reading fails.
TSiMemoryStream CopyWholeStream(TSiStream* AStream) {
    if (AStream == nullptr) {
        throw ESiError("AStream argument is not assigned");
    }
    const std::int64_t LPosition = AStream->GetPosition();
    TSiMemoryStream LCopy;
    try {
        LCopy.LoadFrom(*AStream);
    } catch (...) {
        try {
            AStream->SetPosition(LPosition);
        } catch (...) {
            // The read error is the one to report.
        }
        throw;
    }
    AStream->SetPosition(LPosition);
    return LCopy;
}

std::string_view AsText(const TSiMemoryStream& AStream) {
    const auto LBytes = AStream.Bytes();
    return {reinterpret_cast<const char*>(LBytes.data()), LBytes.size()};
}

// Whether AText is well-formed UTF-8 (a real U+FFFD is three bytes; an invalid byte decodes
// to U+FFFD after one).
bool IsUtf8(std::string_view AText) {
    std::size_t LIndex = 0;
    while (LIndex < AText.size()) {
        const std::size_t LStart = LIndex;
        if (SiDecodeUtf8(AText, LIndex) == 0xFFFD && LIndex - LStart == 1) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string SiContextValueText(std::int64_t AValue) {
    return std::to_string(AValue);
}

std::string SiContextValueText(std::uint64_t AValue) {
    return std::to_string(AValue);
}

std::string SiContextValueText(double AValue) {
    return SiFloatToStr(AValue, SiThreadFormatSettings());
}

std::string SiContextValueText(bool AValue) {
    return AValue ? "True" : "False";
}

std::string SiContextValueText(TSiDateTimeValue AValue) {
    return SiDateTimeToStr(AValue.Value, SiThreadFormatSettings());
}

void TSiViewerContext::CopyToLogEntry(TSiLogEntry& AEntry) {
    AEntry.ViewerId = FViewerId;
    AEntry.SetData(&GetViewerData());
}

void TSiBinaryContext::AppendBytes(const void* AAddress, std::int32_t ASize) {
    if (AAddress == nullptr) {
        throw ESiError("AAddress argument is not assigned");
    }
    if (ASize < 0) {
        throw ESiError("ASize argument is negative");
    }
    // Whoever read the stream meanwhile may have moved its position; appends go to the end.
    FData.Seek(0, soEnd);
    FData.WriteBuffer(AAddress, static_cast<std::size_t>(ASize));
}

void TSiBinaryContext::LoadFromStream(TSiStream* AStream) {
    FData = CopyWholeStream(AStream);
    FData.Seek(0, soEnd);
}

void TSiBinaryContext::LoadFromFile(const std::string& AFileName) {
    const std::string LBytes = ReadFileDenyWrite(AFileName);
    TSiMemoryStream LData;
    LData.WriteBuffer(LBytes.data(), LBytes.size());
    FData = std::move(LData);
}

void TSiBinaryContext::ResetData() {
    FData.SetSize(0);
    FData.SetPosition(0);
}

TSiMemoryStream& TSiTextContext::GetViewerData() {
    if (!FData) {
        FData = std::make_unique<TSiMemoryStream>();
    }
    FData->SetSize(0);
    FData->SetPosition(0);
    FData->WriteBuffer(kByteOrderMark, sizeof kByteOrderMark);
    const std::string& LText = FBuilder.ToString();
    if (IsUtf8(LText)) {
        FData->WriteBuffer(LText.data(), LText.size());
    } else {
        const std::string LClean = SiUtf16ToUtf8(SiUtf8ToUtf16(LText));
        FData->WriteBuffer(LClean.data(), LClean.size());
    }
    return *FData;
}

void TSiTextContext::AppendText(std::string_view AText) {
    FBuilder.Append(AText);
}

void TSiTextContext::AppendLine(std::string_view ALine) {
    FBuilder.Append(EscapeLine(ALine));
    FBuilder.Append(kLineBreak);
}

std::string TSiTextContext::EscapeLine(std::string_view ALine) {
    return std::string(ALine);
}

void TSiTextContext::LoadFromText(std::string_view AText) {
    ResetData();
    AppendText(AText);
}

void TSiTextContext::LoadFromStream(TSiStream* AStream) {
    const TSiMemoryStream LCopy = CopyWholeStream(AStream);
    TSiStringList LLines;
    LLines.LoadFromBytes(AsText(LCopy));
    LoadFromText(LLines.Text());
}

void TSiTextContext::LoadFromFile(const std::string& AFileName) {
    TSiStringList LLines;
    LLines.LoadFromBytes(ReadFileDenyWrite(AFileName));
    LoadFromText(LLines.Text());
}

std::string TSiListViewerContext::EscapeLine(std::string_view ALine) {
    return EscapeLine(ALine, std::string_view());
}

std::string TSiListViewerContext::EscapeLine(std::string_view ALine, std::string_view AToEscape) {
    std::string LOut;
    LOut.reserve(ALine.size());
    bool LAfterBreak = false;
    for (const char LChar : ALine) {
        if (LChar == '\r' || LChar == '\n') {
            if (!LAfterBreak) {
                LOut += ' ';
            }
            LAfterBreak = true;
            continue;
        }
        LAfterBreak = false;
        if (static_cast<unsigned char>(LChar) < 0x80 &&
            AToEscape.find(LChar) != std::string_view::npos) {
            LOut += '\\';
        }
        LOut += LChar;
    }
    return LOut;
}

void TSiValueListViewerContext::AppendKeyValue(std::string_view AKey, std::string_view AValue) {
    std::string LLine = EscapeItem(AKey);
    LLine += '=';
    LLine += EscapeItem(AValue);
    LLine += kLineBreak;
    AppendText(LLine);
}

std::string TSiValueListViewerContext::EscapeItem(std::string_view AItem) {
    return EscapeLine(AItem, "\\=");
}

void TSiInspectorViewerContext::StartGroup(std::string_view AGroup) {
    std::string LLine = "[";
    LLine += EscapeItem(AGroup);
    LLine += ']';
    LLine += kLineBreak;
    AppendText(LLine);
}

std::string TSiInspectorViewerContext::EscapeItem(std::string_view AItem) {
    return EscapeLine(AItem, "\\=[]");
}

void TSiTableViewerContext::AppendHeader(std::string_view AHeader) {
    AppendLine(AHeader);
    AppendLine(std::string_view());
}

void TSiTableViewerContext::AddRowEntry(std::string_view AEntry) {
    if (FLineStart) {
        FLineStart = false;
    } else {
        AppendText(", ");
    }
    AppendText(EscapeCSVEntry(AEntry));
}

std::string TSiTableViewerContext::EscapeCSVEntry(std::string_view AEntry) {
    std::string LOut;
    LOut.reserve(AEntry.size() + 2);
    LOut += '"';
    for (const char LChar : AEntry) {
        if (LChar == '\r' || LChar == '\n') {
            LOut += ' ';
        } else if (LChar == '"') {
            LOut += "\"\"";
        } else {
            LOut += LChar;
        }
    }
    LOut += '"';
    return LOut;
}

}  // namespace deruz::logging
