#include "join/Mp3Copy.h"

namespace tandrel {

JoinStatus RunMp3Copy(const JoinRequest &, JoinProgress &, JoinSummary *, Mp3CopySummary *) {
    return JoinStatus::Failed;
}

} // namespace tandrel
