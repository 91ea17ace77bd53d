// silog dump --key over encrypted log files. Byte 0 picks the options as for dump_plain; with
// its bit 7 clear the rest is the plain content of the file ("SILF" and packets), which is
// encrypted here as the file protocol does (AES-128-CBC, closing padding), so that the
// fuzzer works on what the decryption gives; with bit 7 set the rest is written as it is
// after "SILE", for the vector, block and padding checks. Bit 6 leaves the closing padding
// out, as in a file whose writer did not close it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/dump_file.h"
#include "logging/base/stream.h"
#include "logging/config/lookup_table.h"
#include "logging/crypto/cipher.h"
#include "logging/crypto/encrypt_stream.h"

using namespace deruz::logging;

namespace {

const char kKeyText[] = "fuzz";

std::vector<std::uint8_t> Key() {
    // The same conversion as dump's --key and the file protocol's "key" option.
    TSiLookupTable LTable;
    LTable.Put("key", kKeyText);
    return LTable.GetBytesValue("key", 16, {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize == 0) return 0;
    const std::uint8_t LFlags = AData[0];
    std::vector<std::uint8_t> LFile = {'S', 'I', 'L', 'E'};
    if ((LFlags & 0x80) != 0) {
        LFile.insert(LFile.end(), AData + 1, AData + ASize);
    } else {
        static const std::vector<std::uint8_t> LKey = Key();
        const std::array<std::uint8_t, 16> LIV = {1, 2,  3,  4,  5,  6,  7, 8,
                                                  9, 10, 11, 12, 13, 14, 15};
        LFile.insert(LFile.end(), LIV.begin(), LIV.end());
        TRijndael LCipher(LKey.data(), static_cast<int>(LKey.size()));
        LCipher.SetMode(cmCBC);
        LCipher.SetIVector(LIV);
        TSiMemoryStream LCipherText;
        {
            TEncryptStream LStream(LCipherText, LCipher);
            LStream.WriteBuffer(AData + 1, ASize - 1);
            if ((LFlags & 0x40) == 0) LStream.Done();
        }
        const auto LSize = static_cast<std::size_t>(LCipherText.GetSize());
        const std::size_t LAt = LFile.size();
        LFile.resize(LAt + LSize);
        LCipherText.Seek(0, soBeginning);
        LCipherText.ReadBuffer(LFile.data() + LAt, LSize);
    }
    std::vector<std::string> LOptions = deruz::fuzz::DumpOptions(LFlags);
    LOptions.insert(LOptions.end(), {"--key", kKeyText});
    deruz::fuzz::RunDumpOver(LFile, LOptions);
    return 0;
}
