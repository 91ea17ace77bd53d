// silog dump: prints the packets of binary log files (plain or encrypted) and memory dumps.
#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <ostream>

#include "logging/config/lookup_table.h"
#include "logging/crypto/cipher.h"
#include "logging/format/text_formatter.h"
#include "logging/viewer/packet_reader.h"
#include "tools/silog/commands.h"
#include "tools/silog/packet_printer.h"

namespace deruz::silog {

namespace {

using namespace deruz::logging;

constexpr const char* kHelp =
    "usage: silog dump [--key KEY] [--format text|json] [--pattern PATTERN] FILE...\n"
    "\n"
    "Prints every packet of binary log files (\"SILF\"), encrypted log files (\"SILE\", with\n"
    "--key, the file protocol's key option) and binary memory dumps, one line each; text log\n"
    "files and text memory dumps are printed as they are. A wrong key, a truncated file or a\n"
    "corrupt packet is reported with the file and offset after everything before it was\n"
    "printed; the exit status is then 1.\n";

constexpr std::string_view kPlainMagic = "SILF";
constexpr std::string_view kCipherMagic = "SILE";

bool StartsWith(const std::vector<std::uint8_t>& ABytes, std::string_view AMagic,
                std::size_t AOffset = 0) {
    return ABytes.size() >= AOffset + AMagic.size() &&
           std::equal(AMagic.begin(), AMagic.end(), ABytes.begin() + static_cast<long>(AOffset));
}

// Decrypts an encrypted log file into its plain layout ("SILF" and the packets). Returns an
// error text, or "" on success. A file that was not closed properly has no padding and may end
// in a partial block; what can be decrypted is kept.
std::string Decrypt(const std::vector<std::uint8_t>& AFile, const std::vector<std::uint8_t>& AKey,
                    std::vector<std::uint8_t>& APlain, std::string& ATruncation) {
    constexpr std::size_t kPrefix = 4 + 16;
    if (AFile.size() < kPrefix) {
        return "truncated before the end of the initialisation vector at offset " +
               std::to_string(AFile.size());
    }
    std::array<std::uint8_t, 16> iv;
    std::copy(AFile.begin() + 4, AFile.begin() + kPrefix, iv.begin());
    const std::size_t cipherBytes = (AFile.size() - kPrefix) / 16 * 16;
    if ((AFile.size() - kPrefix) % 16 != 0) {
        ATruncation = "partial cipher block at offset " + std::to_string(kPrefix + cipherBytes);
    }
    APlain.assign(AFile.begin() + kPrefix, AFile.begin() + static_cast<long>(kPrefix + cipherBytes));
    // The file protocol's cipher: AES-128 (the key option is always 16 bytes) in CBC mode.
    TRijndael aes(AKey.data(), static_cast<int>(AKey.size()));
    aes.SetMode(cmCBC);
    aes.SetIVector(iv);
    aes.Decrypt(APlain.data(), APlain.size());
    if (!StartsWith(APlain, kPlainMagic)) {
        APlain.clear();
        return "wrong key or not a log file: the decrypted data does not start with \"SILF\" "
               "(offset 20)";
    }
    // PKCS#7 padding, present when the file was closed.
    if (!APlain.empty()) {
        const std::uint8_t pad = APlain.back();
        if (pad >= 1 && pad <= 16 && pad <= APlain.size() &&
            std::all_of(APlain.end() - pad, APlain.end(), [&](std::uint8_t b) { return b == pad; })) {
            APlain.resize(APlain.size() - pad);
        }
    }
    return "";
}

// Prints one file; returns false after reporting an error.
bool DumpFile(const std::string& APath, const std::vector<std::uint8_t>& AKey, bool AHasKey,
              TPacketPrinter& APrinter, TCommandIo& AIo) {
    std::ifstream in(APath, std::ios::binary);
    if (!in) {
        AIo.Err << APath << ": cannot open the file\n";
        return false;
    }
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    std::vector<std::uint8_t> plain;
    std::string truncation;
    std::string where;  // how offsets are counted
    if (StartsWith(file, kCipherMagic)) {
        if (!AHasKey) {
            AIo.Err << APath << ": the file is encrypted: give its key with --key\n";
            return false;
        }
        const std::string error = Decrypt(file, AKey, plain, truncation);
        if (!error.empty()) {
            AIo.Err << APath << ": " << error << "\n";
            return false;
        }
        where = " of the decrypted log";
    } else if (StartsWith(file, kPlainMagic)) {
        plain = file;
    } else if (StartsWith(file, "\xEF\xBB\xBF") || file.empty()) {
        // A text log or text memory dump: already readable.
        AIo.Out.write(reinterpret_cast<const char*>(file.data()) + (file.empty() ? 0 : 3),
                      static_cast<std::streamsize>(file.empty() ? 0 : file.size() - 3));
        AIo.Out.flush();
        return true;
    } else {
        AIo.Err << APath << ": not a log file (no \"SILF\" or \"SILE\" at offset 0)\n";
        return false;
    }

    TSiBinaryPacketReader reader(std::span<const std::uint8_t>(plain).subspan(4), 4);
    while (!reader.AtEnd()) {
        try {
            auto packet = reader.ReadPacket();
            APrinter.Print(*packet);
        } catch (const ESiPacketFormatError& e) {
            AIo.Err << APath << ": " << e.what() << where << "\n";
            return false;
        }
    }
    if (!truncation.empty()) {
        AIo.Err << APath << ": " << truncation << "\n";
        return false;
    }
    return true;
}

}  // namespace

int RunDump(const std::vector<std::string>& AArgs, TCommandIo& AIo) {
    const TArgs args(AArgs, {"--key", "--format", "--pattern"}, {"--help"});
    if (args.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    const std::string format = args.Value("--format").value_or("text");
    if (!args.Ok() || args.Positional().empty() || (format != "text" && format != "json")) {
        AIo.Err << "silog dump: "
                << (!args.Ok() ? args.Error()
                               : args.Positional().empty() ? "give at least one file"
                                                           : "unknown format '" + format + "'")
                << "\n"
                << kHelp;
        return 2;
    }
    const auto keyText = args.Value("--key");
    std::vector<std::uint8_t> key;
    if (keyText) {
        // The same conversion as the file protocol's "key" option.
        TSiLookupTable table;
        table.Put("key", *keyText);
        key = table.GetBytesValue("key", 16, {});
    }
    TPacketPrinter printer(AIo.Out, format == "json" ? TOutputFormat::Json : TOutputFormat::Text,
                           args.Value("--pattern").value_or(std::string(CSiDefaultPattern)));
    bool ok = true;
    for (const auto& path : args.Positional()) {
        ok = DumpFile(path, key, !key.empty(), printer, AIo) && ok;
    }
    return ok ? 0 : 1;
}

}  // namespace deruz::silog
