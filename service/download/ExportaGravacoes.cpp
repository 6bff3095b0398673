// Recordings backup to the network folder and FTP server, export of a
// period's recordings and the local test run. Not built yet: nothing is done
// and the export reports failure.

#include "service/download/PABXDownloadFTP.h"

void TPABXDownloadFTP::BackupArquivos(bool) {}

bool TPABXDownloadFTP::ExportaGravacoes(const DataHora&, const DataHora&) { return false; }

void TPABXDownloadFTP::ProcessaLocal() {}
