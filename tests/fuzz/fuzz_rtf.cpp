// The RTF reader on arbitrary bytes: it must neither crash nor hang, and what
// it read must survive being written and read again.
#include "controls/Rtfreader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TRtfDocument document = ReadRtf(std::string_view(reinterpret_cast<const char*>(data), size));
    const TRtfDocument again = ReadRtf(WriteRtf(document.Paragraphs));
    if (again.Paragraphs != document.Paragraphs) {
        std::fprintf(stderr, "paragraphs changed on the way through WriteRtf\n");
        std::abort();
    }
    return 0;
}
