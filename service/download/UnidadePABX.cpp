#include "service/download/UnidadePABX.h"

#include "common/Configuracao.h"

void PreparaLink(TPABX& pabx, const UnidadePABX& unidade, EventoPABX* evento) {
    pabx.FEvento = evento;
    pabx.FPastaPABX = unidade.PastaPABX;
    pabx.FTrace = (unidade.MascaraLog & LogPABX) != 0;
    pabx.FEnderecoIP = unidade.KELVEnderIP;
    pabx.FPorta = unidade.KELVPorta;
    pabx.FSenha = unidade.KELVSenha;
    pabx.FUsaSocks = unidade.UsaSocks;
    pabx.FSocksServidor = unidade.SocksServidor;
    pabx.FSocksPorta = unidade.SocksPorta;
    pabx.FSocksUsuario = unidade.SocksUsuario;
    pabx.FSocksSenha = unidade.SocksSenha;
    pabx.FModoUSB = unidade.ModoUSB;
    pabx.FPastaUSB = unidade.CaminhoUSB;
    pabx.FEsperaUSB = unidade.EsperaUSB;
    pabx.FRaizUSB = unidade.RaizUSB;
}
