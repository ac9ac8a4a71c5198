// Named points of the steps that must survive a kill (replacing an original). When the
// environment variable DZ_TEST_STOP_AT names the point, the process kills itself there with
// SIGKILL, so that tests can stop the ordinary code at exactly that place. Unset, nothing happens.
#pragma once

void StopPointReached(const char* name);
