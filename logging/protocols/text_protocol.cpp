#include "logging/protocols/text_protocol.h"

namespace deruz::logging {

TSiTextProtocol::TSiTextProtocol() = default;

void TSiTextProtocol::BuildOptions(TSiConnectionsBuilder& ABuilder) {
    TSiFileProtocol::BuildOptions(ABuilder);
    ABuilder.AddOption("indent", FIndent);
    ABuilder.AddOption("pattern", FPattern);
}

void TSiTextProtocol::LoadOptions() {
    TSiFileProtocol::LoadOptions();
    FPattern = GetStringOption("pattern", std::string(CSiDefaultPattern));
    FIndent = GetBooleanOption("indent", false);
    FFormatter.SetPattern(FPattern);
    FFormatter.SetIndent(FIndent);
}

bool TSiTextProtocol::IsValidOption(const std::string& AKey) const {
    // Text files are meant to be read as they are: no encryption.
    if (AKey == "encrypt" || AKey == "key") return false;
    return AKey == "pattern" || AKey == "indent" || TSiFileProtocol::IsValidOption(AKey);
}

std::int64_t TSiTextProtocol::WriteHeader(TSiStream& AStream, std::int64_t ASize) {
    if (ASize != 0) return ASize;
    AStream.WriteBuffer(CSiBom.data(), CSiBom.size());
    return static_cast<std::int64_t>(CSiBom.size());
}

}  // namespace deruz::logging
