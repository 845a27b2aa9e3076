#include <gtest/gtest.h>
#include "AllocationCounter.h"

#include "ZFourierTransform.h"
#include "ZGain.h"

#include <memory>

using namespace quarn;

TEST (Realtime, TransformsAndSteadyGainCallsDoNotAllocate)
{
    std::unique_ptr<ZFourierTransform> forward (ZFourierTransform::create (10, 0, 1));
    std::unique_ptr<ZFourierTransform> inverse (ZFourierTransform::create (10, 1, 1));
    std::unique_ptr<ZFourierTransform> complexForward (ZFourierTransform::create (10, 0, 0));
    std::unique_ptr<ZGain> gain (ZGain::create (false));

    ZBuffer signal (1024, "ZBuffer"), re (513, "mSpectrum"), im (513, "ZBuffer");
    ZBuffer cre (1024, "ZBuffer"), cim (1024, "ZBuffer"), out (1024, "ZBuffer");
    for (unsigned i = 0; i < 1024; ++i)
        signal[i] = (float) (i % 17) / 17.0f - 0.5f;

    // First calls size the ramp table and the complex scratch arrays.
    gain->rampCopy (signal, out, 0.0f, 1.0f);
    gain->complexMultiply (re, im, re, im, re, im);

    const long count = clarivo_test::countAllocations ([&]
    {
        for (int i = 0; i < 50; ++i)
        {
            forward->transformReal (signal, re, im);
            gain->complexMultiply (re, im, re, im, re, im);
            gain->powerToDecibels (re);
            inverse->transformReal (signal, re, im);
            complexForward->transform (cre, cim);
            complexForward->transform (cre, cim, out, cim);
            gain->rampCopy (signal, out, 0.0f, 1.0f + (float) (i % 2)); // refilled, same length
            gain->scaleAddAt (signal, out, 0, 0.5f);
        }
    });
    EXPECT_EQ (0, count);
}
