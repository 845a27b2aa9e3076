#pragma once

// The program's pictures: PNG files in Source/app/artwork, compiled in by the
// build (cmake/EmbedArtwork.cmake). Decode each once, through
// juce::ImageCache::getFromMemory, when its component is made.
namespace clarivo::artwork
{
struct Picture
{
    const unsigned char* data;
    int size;
};

extern const Picture panelBackground;   // 780 x 400, controls panel
extern const Picture creditsBackground; // 780 x 400, information panel
extern const Picture toggleOn;          // 132 x 132
extern const Picture toggleOff;         // 132 x 132
extern const Picture largeKnob;         // 234 x 234
extern const Picture smallKnob;         // 54 x 54
extern const Picture sliderTrack;       // 203 x 9
extern const Picture sliderThumb;       // 22 x 22
extern const Picture productLogo;       // 187 x 44, the controls panel's logo button
extern const Picture noiseReductionOff; // 132 x 132, dark ring
extern const Picture noiseReductionOn;  // 132 x 132, blue ring
extern const Picture washOverlay;       // 196 x 196, a transparent disc 191 across
// The media window's transport bar.
extern const Picture transportPlay;     // 128 x 128
extern const Picture transportPause;    // 128 x 128
extern const Picture transportForward;  // 128 x 128
extern const Picture transportRewind;   // 128 x 128
extern const Picture transportBypass;   // 96 x 96
extern const Picture transportVideo;    // 74 x 95
extern const Picture darkToggleOn;      // 26 x 26
extern const Picture darkToggleOff;     // 26 x 26
} // namespace clarivo::artwork
