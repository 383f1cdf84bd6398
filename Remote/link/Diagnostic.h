// One sink for the link's diagnostic lines (device discovery, carrier trouble). The
// lines are not meant for the operator; by default they go to standard output, and the
// session may route them into its log instead.
#pragma once

#include <functional>
#include <string_view>

namespace klr {

using DiagnosticSink = std::function<void(std::string_view)>;

// Replaces the sink; an empty function restores standard output. Thread-safe.
void SetDiagnosticSink(DiagnosticSink sink);

// Emits one text exactly as given (the texts carry their own line feeds).
void Diagnostic(std::string_view text);

// printf-style convenience; the result is cut at 2047 characters.
void DiagnosticF(const char *format, ...)
// gnu_printf: GCC's plain printf archetype means the old Windows runtime's (no %zu) there.
#if defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(gnu_printf, 1, 2)))
#endif
    ;

} // namespace klr
