#include "db/WorkerDatabase.h"

#include "db/DataModule.h"

namespace pc {

std::unique_ptr<TDM> OpenAttachmentLike(const TDM &open, const AppContext &context, Dialogs &dialogs, MessageLog &log)
{
    auto dm = std::make_unique<TDM>(context, dialogs, log);
    dm->DriverKind = open.DriverKind;
    dm->LockTimeoutSeconds = open.LockTimeoutSeconds;
    dm->Location = open.Location;
    dm->CreateFirebirdObjects();
    dm->SetConnected(true);
    return dm;
}

} // namespace pc
