#include "service/VerificaSDCard.h"

TPABXVerificaSDCard::TPABXVerificaSDCard(const DadosVerificaSDCard& dados,
                                         const ContextoSDCard& contexto)
    : ThreadServico(dados.CodigoPABX),
      MascaraLog(dados.MascaraLog),
      DescricaoPABX(dados.DescricaoPABX),
      PastaPABX(dados.PastaPABX),
      ModoUSB(dados.ModoUSB),
      KELVEnderIP(dados.KELVEnderIP),
      KELVPorta(dados.KELVPorta),
      KELVSenha(dados.KELVSenha),
      UltimaVerificacaoSDCard(dados.UltimaVerificacaoSDCard),
      UltimoAlertaSDCard(dados.UltimoAlertaSDCard),
      contexto_(contexto) {}

void TPABXVerificaSDCard::Log(std::string_view) {}

void TPABXVerificaSDCard::Execute() {}

bool SDCardCheio(const TVolumeSDCard&) { return false; }

bool BDAtualizaSDCard(const ContextoSDCard&, bool, int, std::string_view, const TVolumeSDCard&) {
    return false;
}

bool BDRegistraVerificacaoSDCard(const ContextoSDCard&, int) { return false; }
