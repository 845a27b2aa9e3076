#pragma once

#include <exception>
#include <string>
#include <juce_core/juce_core.h>

namespace quarn_juce
{

// The one failure report of the DSP library: a message with the source file and
// line that raised it.
class qj_exception : public std::exception
{
public:
    qj_exception (const juce::String& message, const juce::String& file, int line);
    ~qj_exception() override = default;

    const char* what() const noexcept override { return mWhat.c_str(); }

    const juce::String& getMessage() const noexcept { return message; }
    const juce::String& getFile() const noexcept    { return file; }
    int getLine() const noexcept                    { return line; }

    juce::String message;
    juce::String file;
    int line = 0;

private:
    // Built once so that what() stays valid as long as the exception lives.
    std::string mWhat;
};

class qj_dsp_exception : public qj_exception
{
public:
    using qj_exception::qj_exception;
};

} // namespace quarn_juce

namespace quarn
{
using quarn_juce::qj_dsp_exception;
}

// The library reports its failures with the path of the file as the program
// has always named it, not the compiler's __FILE__; the line is the real one
// of the throw site.
#define QJ_THROW(message, file) throw ::quarn_juce::qj_dsp_exception (message, file, __LINE__)
