#include "Diagnostic.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace klr {

namespace {

std::mutex &SinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

DiagnosticSink &Sink()
{
    static DiagnosticSink sink;
    return sink;
}

} // namespace

void SetDiagnosticSink(DiagnosticSink sink)
{
    std::lock_guard lock(SinkMutex());
    Sink() = std::move(sink);
}

void Diagnostic(std::string_view text)
{
    DiagnosticSink sink;
    {
        std::lock_guard lock(SinkMutex());
        sink = Sink();
    }
    if (sink) {
        sink(text);
        return;
    }
    std::lock_guard lock(SinkMutex());
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void DiagnosticF(const char *format, ...)
{
    char line[2048];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    const auto length =
        static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
    Diagnostic(std::string_view(line, length));
}

} // namespace klr
