// Import of a downloaded recordings folder. Not built yet: every member
// reports failure.

#include "service/download/PABXDownloadFTP.h"

bool TPABXDownloadFTP::ImportaArquivos(TPABX&) { return false; }

bool TPABXDownloadFTP::RemoveGravacaoPABX(TPABX&, const std::string&) { return false; }

bool TPABXDownloadFTP::AguardaRespostaRemocao(TPABX&) { return false; }
