#include "AppManifest.h"

#include <optional>

#include "ZoTypes.h"

namespace {

struct TLevelSpan {
    size_t At = 0, Size = 0;  // the value between its quotes
};

// Where the level's value stands; none when the manifest names no level,
// an empty span when it cannot be read.
std::optional<TLevelSpan> LevelSpan(const std::string& xml)
{
    size_t at = xml.find("requestedExecutionLevel");
    if (at == std::string::npos) return std::nullopt;
    size_t end = xml.find('>', at);
    at = xml.find("level", at + 23);
    if (at == std::string::npos || at > end) return TLevelSpan{};
    at = xml.find_first_of("\"'", at);
    if (at == std::string::npos || at > end) return TLevelSpan{};
    size_t close = xml.find(xml[at], at + 1);
    if (close == std::string::npos || close > end) return TLevelSpan{};
    return TLevelSpan{at + 1, close - at - 1};
}

}  // namespace

std::string RequestedExecutionLevel(const TPeImage& pe)
{
    auto manifests = pe.ResourcesOfType(pe::kManifest);
    if (manifests.empty()) return "none (no manifest: the caller's rights)";
    const TBytes bytes = pe.ReadResource(*manifests.front());
    const std::string xml(bytes.begin(), bytes.end());
    std::optional<TLevelSpan> span = LevelSpan(xml);
    if (!span) return "none (the manifest asks for none: the caller's rights)";
    if (span->Size == 0) return "unreadable";
    return xml.substr(span->At, span->Size);
}

void SetRequestedExecutionLevel(TPeImage& pe, const std::string& level)
{
    auto manifests = pe.ResourcesOfType(pe::kManifest);
    bool set = false;
    for (const TPeResource* manifest : manifests) {
        const TBytes bytes = pe.ReadResource(*manifest);
        std::string xml(bytes.begin(), bytes.end());
        std::optional<TLevelSpan> span = LevelSpan(xml);
        if (!span || span->Size == 0) continue;
        xml.replace(span->At, span->Size, level);
        const TResName type = manifest->Type, name = manifest->Name;
        const uint16_t language = manifest->Language;
        pe.SetResource(type, name, TBytes(xml.begin(), xml.end()), language);
        set = true;
        break;  // SetResource changed the table the pointers lead into
    }
    if (!set) throw EPackageError(u"the program's manifest names no execution level to set");
}
