#include "vqlib/Gbk.h"

#include <iconv.h>

#include <cerrno>

namespace {

class TIconv {
public:
    TIconv(const char* to, const char* from) : FHandle(iconv_open(to, from)) {}
    ~TIconv()
    {
        if (Valid())
            iconv_close(FHandle);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }

    // Converts what it can; returns false at the first sequence it cannot,
    // with in/inLeft pointing at it.
    bool Convert(const char*& in, size_t& inLeft, std::string& out)
    {
        char buffer[1024];
        while (inLeft > 0) {
            char* inPtr = const_cast<char*>(in);
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(FHandle, &inPtr, &inLeft, &outPtr, &outLeft);
            const int error = errno;
            in = inPtr;
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (rc == static_cast<size_t>(-1) && error != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t FHandle;
};

void AppendReplacement(std::string& out) { out += "\xEF\xBF\xBD"; }

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8)
{
    TIconv converter("GBK", "UTF-8");
    if (!converter.Valid())
        return std::nullopt;
    const char* in = utf8.data();
    size_t inLeft = utf8.size();
    std::string out;
    out.reserve(utf8.size());
    if (!converter.Convert(in, inLeft, out))
        return std::nullopt;
    return out;
}

std::string GbkToUtf8(std::string_view gbk)
{
    TIconv converter("UTF-8", "GBK");
    std::string out;
    if (!converter.Valid())
        return out;
    out.reserve(gbk.size() * 3 / 2);
    const char* in = gbk.data();
    size_t inLeft = gbk.size();
    while (!converter.Convert(in, inLeft, out)) {
        AppendReplacement(out);
        // Step over one byte of the bad sequence, like a reader resynchronising.
        ++in;
        --inLeft;
    }
    return out;
}
