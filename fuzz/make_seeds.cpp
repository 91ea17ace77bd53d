// Writes the binary seeds of the fuzz corpora: packet streams, plain and encrypted log file
// contents, and version resources, built with the library's own encoder so that they follow
// the current formats. Usage: fuzz_make_seeds <corpus directory>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "logging/format/binary_formatter.h"
#include "logging/packets/packet.h"

using namespace deruz::logging;

namespace {

using TBytes = std::vector<std::uint8_t>;

void Save(const std::string& APath, const TBytes& ABytes) {
    std::FILE* LFile = std::fopen(APath.c_str(), "wb");
    if (LFile == nullptr) {
        std::perror(APath.c_str());
        std::exit(1);
    }
    std::fwrite(ABytes.data(), 1, ABytes.size(), LFile);
    std::fclose(LFile);
}

TBytes Concatenate(const std::vector<TSiPacketPtr>& APackets) {
    TBytes LAll;
    for (const TSiPacketPtr& LPacket : APackets) {
        const TBytes LBytes = SiFormatBinary(*LPacket);
        LAll.insert(LAll.end(), LBytes.begin(), LBytes.end());
    }
    return LAll;
}

std::vector<TSiPacketPtr> OneOfEachKind() {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltDatabaseResult, viTable);
    LEntry->AppName = "app.exe";
    LEntry->SessionName = "Main";
    LEntry->Title =
        "Gr\xC3\xBC\xC3\x9F"
        "e";
    LEntry->HostName = "PC1";
    LEntry->Color = 0x00336699;
    LEntry->Timestamp = 45123.75;
    LEntry->ProcessId = 17;
    LEntry->ThreadId = 4242;
    TSiMemoryStream LData;
    LData.WriteBuffer("\0\x01\x02 binary\xFF", 11);
    LEntry->SetData(&LData);

    auto LCommand = SiMakeRef<TSiControlCommand>(ccClearAutoViews);
    TSiMemoryStream LCommandData;
    LCommandData.WriteBuffer("abc", 3);
    LCommand->SetData(&LCommandData);

    auto LWatch = SiMakeRef<TSiWatch>(wtFloat);
    LWatch->Name = "ratio";
    LWatch->Value = "0.25";
    LWatch->Timestamp = -2.5;

    auto LFlow = SiMakeRef<TSiProcessFlow>(pfLeaveProcess);
    LFlow->Title = "Shutdown";
    LFlow->HostName = "PC2";
    LFlow->Timestamp = 1.0 / 3.0;

    auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->HostName = "PC1";
    LHeader->AppName = "app.exe";
    return {LEntry, LCommand, LWatch, LFlow, LHeader};
}

TBytes WithByte(std::uint8_t AFirst, const TBytes& ARest) {
    TBytes LResult{AFirst};
    LResult.insert(LResult.end(), ARest.begin(), ARest.end());
    return LResult;
}

// A version resource (wide or 8-bit form): the root with the fixed part, one string table
// (language 0409, code page 04B0) and the translation list.
class TResource {
  public:
    TBytes Build(bool AWide) {
        FWide = AWide;
        FOut.clear();
        const std::size_t LRoot = Begin(L"VS_VERSION_INFO", 52, false);
        TBytes LFixed(52, 0);
        LFixed[0] = 0xBD, LFixed[1] = 0x04, LFixed[2] = 0xEF, LFixed[3] = 0xFE;
        FOut.insert(FOut.end(), LFixed.begin(), LFixed.end());
        const std::size_t LInfo = Begin(L"StringFileInfo", 0, false);
        const std::size_t LTable = Begin(L"040904B0", 0, false);
        String(L"CompanyName", L"Example");
        String(L"FileVersion", L"3, 0, 1, 582");
        String(L"ProductName", L"Name \u00E4");
        End(LTable);
        End(LInfo);
        const std::size_t LVar = Begin(L"VarFileInfo", 0, false);
        const std::size_t LTranslation = Begin(L"Translation", 4, false);
        FOut.insert(FOut.end(), {0x09, 0x04, 0xB0, 0x04});
        End(LTranslation);
        End(LVar);
        End(LRoot);
        return FOut;
    }

  private:
    void Word(std::uint16_t AValue) {
        FOut.push_back(static_cast<std::uint8_t>(AValue & 0xFF));
        FOut.push_back(static_cast<std::uint8_t>(AValue >> 8));
    }
    void Pad() {
        while (FOut.size() % 4 != 0) FOut.push_back(0);
    }
    void Text(const std::wstring& AText) {
        for (const wchar_t C : AText) {
            if (FWide) {
                Word(static_cast<std::uint16_t>(C));
            } else {
                FOut.push_back(static_cast<std::uint8_t>(C));
            }
        }
        if (FWide) {
            Word(0);
        } else {
            FOut.push_back(0);
        }
    }
    std::size_t Begin(const std::wstring& AKey, std::uint16_t AValueLength, bool AText) {
        Pad();
        const std::size_t LStart = FOut.size();
        Word(0);
        Word(AValueLength);
        if (FWide) Word(AText ? 1 : 0);
        Text(AKey);
        Pad();
        return LStart;
    }
    void String(const std::wstring& AKey, const std::wstring& AValue) {
        const std::size_t LStart = Begin(AKey, static_cast<std::uint16_t>(AValue.size() + 1), true);
        Text(AValue);
        End(LStart);
    }
    void End(std::size_t AStart) {
        const auto LLength = static_cast<std::uint16_t>(FOut.size() - AStart);
        FOut[AStart] = static_cast<std::uint8_t>(LLength & 0xFF);
        FOut[AStart + 1] = static_cast<std::uint8_t>(LLength >> 8);
    }

    bool FWide = true;
    TBytes FOut;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <corpus directory>\n");
        return 2;
    }
    const std::string LDir = argv[1];
    const std::vector<TSiPacketPtr> LPackets = OneOfEachKind();
    const TBytes LStream = Concatenate(LPackets);

    Save(LDir + "/packet_reader/all_kinds", LStream);
    const char* LNames[] = {"entry", "command", "watch", "flow", "header"};
    for (std::size_t I = 0; I < LPackets.size(); ++I) {
        Save(LDir + "/packet_reader/" + LNames[I], SiFormatBinary(*LPackets[I]));
    }

    TBytes LLogFile = {'S', 'I', 'L', 'F'};
    LLogFile.insert(LLogFile.end(), LStream.begin(), LStream.end());
    Save(LDir + "/dump_plain/log_text", WithByte(0, LLogFile));
    Save(LDir + "/dump_plain/log_json_resync", WithByte(3, LLogFile));
    TBytes LDamaged = LLogFile;
    LDamaged[10] ^= 0xFF;
    Save(LDir + "/dump_plain/damaged_resync", WithByte(5, LDamaged));
    const std::string LText = "\xEF\xBB\xBFline one\r\nline \x1B[31mtwo\n";
    Save(LDir + "/dump_plain/text_log", WithByte(0, TBytes(LText.begin(), LText.end())));

    // dump_encrypted takes the plain content and encrypts it itself.
    Save(LDir + "/dump_encrypted/log_text", WithByte(0, LLogFile));
    Save(LDir + "/dump_encrypted/log_json_unclosed", WithByte(0x42, LLogFile));
    Save(LDir + "/dump_encrypted/raw_short_iv", WithByte(0x80, TBytes(10, 7)));

    TResource LResource;
    Save(LDir + "/version_resource/wide", LResource.Build(true));
    Save(LDir + "/version_resource/narrow", LResource.Build(false));
    return 0;
}
