#include "batch/linkoutcome.h"

#include "capture/htmlsnap.h"

namespace Batch {

QString captureOutcome(int code, bool thumbnailMade, const QString& netError)
{
    switch (code) {
    case Capture::SnapCode::Captured:
        return thumbnailMade ? Outcome::Captured : Outcome::ImageFailed;
    case Capture::SnapCode::CaptureFailed:
        return Outcome::CaptureFailed;
    case Capture::SnapCode::FileWriteFailed:
        return Outcome::WriteFailed;
    case Capture::SnapCode::OpenFailed:
        if (netError == QLatin1String("net::ERR_CONNECTION_REFUSED"))
            return Outcome::Refused;
        if (netError == QLatin1String("net::ERR_NAME_NOT_RESOLVED")
            || netError == QLatin1String("net::ERR_NAME_RESOLUTION_FAILED"))
            return Outcome::Unresolved;
        return Outcome::OpenFailed;
    case Capture::SnapCode::TimedOut:
        return Outcome::TimedOut;
    case Capture::SnapCode::Blank:
        return Outcome::Blank;
    default:
        return Outcome::Unfinished;
    }
}

bool isFailure(const QString& outcome)
{
    return outcome != Outcome::Captured && outcome != Outcome::Exists && outcome != Outcome::Skipped
        && outcome != Outcome::Ignored && outcome != Outcome::BadId;
}

bool isDeadLink(const QString& outcome, int httpStatus)
{
    return outcome == Outcome::Refused || outcome == Outcome::Unresolved || httpStatus == 404 || httpStatus == 410;
}

} // namespace Batch
