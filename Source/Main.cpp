#include "ClarivoApplication.h"

START_JUCE_APPLICATION (ClarivoApplication)
