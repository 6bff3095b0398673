// Backup of the unit's database at the end of a run. Not built yet: a backup
// is never due.

#include "service/download/PABXDownloadFTP.h"

bool TPABXDownloadFTP::HoraBackup() { return false; }

bool TPABXDownloadFTP::BackupBaseDados() { return false; }

bool TPABXDownloadFTP::BDRegistraBackup() { return false; }
