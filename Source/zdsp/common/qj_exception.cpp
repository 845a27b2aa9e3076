#include "qj_exception.h"

namespace quarn_juce
{

qj_exception::qj_exception (const juce::String& m, const juce::String& f, int l)
    : message (m), file (f), line (l)
{
    mWhat = (message + ", at File: " + file + ", Line: " + juce::String (line)).toStdString();
}

} // namespace quarn_juce
