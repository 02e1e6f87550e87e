// Never built with the project: the test IcalendarLayer.AFileLayerHeaderDoesNotBuildInIt
// builds it in the iCalendar layer's settings and expects the build to stop.
#include "tallowick/store/vdir/env.h"
