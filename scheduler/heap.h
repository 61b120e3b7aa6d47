// The scheduler's heap on transparent huge pages where the system allows
// them only when asked (madvise).
#pragma once

// Reserves heap space ahead and asks for huge pages on it. A large spool is
// loaded as many small records; on 4 KB pages the first touch of each page
// costs a fault, which was the larger part of the start-up time with ten
// thousand jobs. Call before the configuration is read.
void PrepareHeap();
