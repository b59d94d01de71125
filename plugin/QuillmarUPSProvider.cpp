#include "plugin/QuillmarUPSProvider.h"

#include "ups/QuillmarUPS.h"

SMDSPDevice* QuillmarUPSProvider::create() const
{
    return new QuillmarUPS();
}
