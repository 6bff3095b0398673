// TPABX: the receiver's dispatch, the reply handlers and the table queries.
// Every handler runs on the link's thread under FTravaRX and reads only the
// bytes kept for the frame (`n`); a frame too short for the offsets a handler
// reads is treated as no reply: nothing changes and the status stays empty.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <set>

#include <pugixml.hpp>

#include "common/Texto.h"
#include "common/pabx/PABX.h"
#include "common/pabx/TracePABX.h"

namespace {
// A fixed-width Latin-1 field up to its first NUL, as UTF-8.
std::string Campo(const std::uint8_t* p, std::size_t largura) {
    const auto* fim = static_cast<const std::uint8_t*>(std::memchr(p, 0, largura));
    const std::size_t n = fim != nullptr ? static_cast<std::size_t>(fim - p) : largura;
    return Latin1ParaUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
}

int NumeroOuZero(std::string_view texto) {
    const std::string t = Apara(texto);
    int valor = 0;
    const auto [fim, erro] = std::from_chars(t.data(), t.data() + t.size(), valor);
    if (erro != std::errc() || fim != t.data() + t.size()) return 0;
    return valor;
}

std::string DoisDigitos(unsigned valor) {
    char texto[16];
    std::snprintf(texto, sizeof texto, "%02u", valor);
    return texto;
}

// Extensions whose DNS name the index block may set, by their type.
bool TipoAceito(int numero, std::uint32_t tipo) {
    if (numero >= 1000 && numero <= 1899) return tipo == 2 || tipo == 3 || tipo == 45;
    if (numero >= 3000 && numero <= 3999) return tipo == 45;
    return false;
}
}  // namespace

void TPABX::TCPRecebeu(std::span<const std::uint8_t> bytes) {
    std::lock_guard trava(FTravaRX);
    FReceptor.Alimenta(bytes, [this](const std::uint8_t* q, std::uint32_t comprimento,
                                     std::uint32_t n) { Despacha(q, comprimento, n); });
}

void TPABX::Despacha(const std::uint8_t* q, std::uint32_t comprimento, std::uint32_t n) {
    (void)comprimento;  // the handlers read only what was kept
    if (n < 7) return;
    const std::uint16_t tipo = LePalavra(q + 3);
    const std::uint16_t comando = LePalavra(q + 5);
    if (tipo == TipoPROG && comando == RespostaDadosPROG) {
        GravaTrace(q, n, "RX PROG");
        if (n < 13) return;
        const std::uint16_t bloco = LePalavra(q + 9);
        const std::uint16_t indice = LePalavra(q + 11);
        if (FTrace && !FModoConsole)
            GravaArquivoDiagnostico(FPastaPABX, NomeDumpPROG(bloco, indice), q, n);
        // Only the awaited read's reply fills the tables, once.
        if (!FDadosPendentes || bloco != FBlocoEsperado || indice != FIndiceEsperado) return;
        if (FModoConsole && bloco == BlocoListaRamais && indice == IndiceListaRamais)
            TrataListaRamais(q, n);
        else if (FModoConsole && IndiceRamal(bloco) >= 0 &&
                 (indice == IndiceParametroRamal || indice == IndiceListaRamal))
            TrataRespostaRamal(q, n);
        else if (bloco == BlocoNomesDNS && indice == IndiceNomesDNS)
            TrataNomesDNS(q, n);
        else if (bloco == BlocoIndicesDNS && indice == IndiceIndicesDNS)
            TrataIndicesDNS(q, n);
        else if (bloco == BlocoAgenda && indice == IndiceAgenda)
            TrataAgenda(q, n, false);
        else if (bloco == BlocoAgendaLonga && indice == IndiceAgendaLonga)
            TrataAgenda(q, n, true);
        else if (bloco == BlocoParametros && indice == IndiceParametros)
            TrataParametros(q, n);
        else if (bloco == BlocoVersao && indice == IndiceVersao)
            TrataVersao(q, n);
        else if (bloco == BlocoRelease && indice == IndiceRelease)
            TrataRelease(q, n);
        if (!FStatusPROG.Vazio()) FDadosPendentes = false;
    } else if (tipo == TipoPROG && comando == ConfirmacaoPROG) {
        if (FModoConsole) GravaTrace(q, n, "RX PROG");
        if (n < 13) return;
        if (LePalavra(q + 9) == FBlocoEsperado && LePalavra(q + 11) == FIndiceEsperado) {
            FStatusPROG.Grava("OK");
            SinalizaEvento();
        }
    } else if (tipo == TipoCTRL) {
        GravaTrace(q, n, "RX CTRL");
        if (n < 11) return;
        // A reply carries the sub-code of its request: a late reply to an
        // earlier request (the login's result after the next request went
        // out) must not answer the pending one.
        const std::uint16_t subcodigo = LePalavra(q + 9);
        // The unit refuses a PROG read (0x84) or write (0x85) with a CTRL
        // reply naming the block: the console's pending PROG request ends
        // with the result's text.
        const std::uint16_t comandoPROG = comando & 0xFF;
        if (FModoConsole && (comandoPROG == 0x84 || comandoPROG == 0x85) && FDadosPendentes &&
            subcodigo == FBlocoEsperado) {
            if (n < 9) return;
            FDadosPendentes = false;
            FStatusPROG.Grava(TextoResultadoCTRL(LePalavra(q + 7), comando, q, n));
            SinalizaEvento();
            return;
        }
        if (subcodigo != FSubCodigoCTRL) return;
        if (FAgendaViaCTRL && (comando & 0xFF) == cmdPedeXML) {
            if (!FXMLPendente) return;
            TrataXML(q, n, subcodigo);
            if (!FStatusPROG.Vazio()) FXMLPendente = false;
        } else
            AnalisaCTRL(q, n);
    }
}

void TPABX::TrataVersao(const std::uint8_t* q, std::uint32_t n) {
    if (n < 19) return;
    FVersaoMaior = LePalavra(q + 15);
    FVersaoMenor = LePalavra(q + 17);
    FVersao = std::to_string(FVersaoMaior) + "." +
              (FModoConsole ? std::to_string(FVersaoMenor) : DoisDigitos(FVersaoMenor));
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TrataRelease(const std::uint8_t* q, std::uint32_t n) {
    if (n < 17) return;
    FRelease = LePalavra(q + 15);
    FVersao = (FVersao + "." + (FModoConsole ? std::to_string(FRelease) : DoisDigitos(FRelease)))
                  .substr(0, 20);
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TrataParametros(const std::uint8_t* q, std::uint32_t n) {
    if (n >= 104) {
        // The model field may be cut by the frame's end: take what is there.
        const std::size_t largura = std::min<std::size_t>(20, n - 97);
        const std::string modelo = Maiusculas(Campo(q + 97, largura));
        if (!FModoConsole) FModelo = modelo;
        FAgendaLonga = false;
        FAgendaViaCTRL = false;
        if (modelo.find("ORVAL500") != std::string::npos)
            FAgendaLonga = true;
        else if (modelo.find("BRELVO") != std::string::npos ||
                 modelo.find("TK506_4M") != std::string::npos)
            FAgendaViaCTRL = true;
    }
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TrataNomesDNS(const std::uint8_t* q, std::uint32_t n) {
    FNomesDNS.clear();
    for (std::uint32_t r = 15; r + 16 <= n; r += 16) {
        const char digito = (LePalavra(q + r + 2) & 1) ? '1' : '0';
        FNomesDNS.push_back(digito + CortaUtf8(Campo(q + r + 4, 12), 11));
    }
    GravaTrace(nullptr, 0, "Tratou bloco nome DNS");
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TrataIndicesDNS(const std::uint8_t* q, std::uint32_t n) {
    FAgendaRamais.clear();
    for (auto& ramal : FRamais) ramal = {};
    for (std::uint32_t r = 15; r + 16 <= n; r += 16) {
        const std::uint32_t tipo =
            std::uint32_t{LePalavra(q + r)} | (std::uint32_t{LePalavra(q + r + 2)} << 16);
        const int numero = LePalavra(q + r + 4);
        const int indiceNome = LePalavra(q + r + 12);
        if (!TipoAceito(numero, tipo) || !NomeDNSHabilitadoSemTrava(indiceNome)) continue;
        TRamalPABX& ramal = FRamais[static_cast<std::size_t>(IndiceRamal(numero))];
        ramal.NomeDNS = CortaUtf8(NomeDNSSemTrava(indiceNome), 20);
        ramal.Nome = ramal.NomeDNS;
    }
    GravaTrace(nullptr, 0, "Tratou bloco indice DNS");
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TrataAgenda(const std::uint8_t* q, std::uint32_t n, bool longa) {
    const std::uint32_t tamanhoRegistro = longa ? 48 : 34;
    const std::size_t largura = longa ? 32 : 30;
    const std::size_t maximo = longa ? 32 : 18;
    if (!longa) FAgendaRamais.clear();
    for (std::uint32_t r = 15; r + tamanhoRegistro <= n; r += tamanhoRegistro) {
        const int numero = LePalavra(q + r);
        const std::string nome = CortaUtf8(Apara(Campo(q + r + 4, largura)), maximo);
        if (!longa && numero >= 3000 && numero <= 3999) {
            char chave[8];
            std::snprintf(chave, sizeof chave, "%04d;", numero);
            FAgendaRamais.push_back(chave + nome);
        }
        const int i = IndiceRamal(numero);
        if (i < 0) continue;
        TRamalPABX& ramal = FRamais[static_cast<std::size_t>(i)];
        if (Maiusculas(nome) == "BRIDGE") {
            ramal.NomeDNS.clear();
            ramal.Nome.clear();
        } else {
            ramal.Nome = CortaUtf8(nome, 30);
        }
    }
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TrataXML(const std::uint8_t* q, std::uint32_t n, std::uint16_t codigo) {
    // The document runs from offset 13 to ten bytes before the frame's end.
    const std::size_t tamanho = n > 23 ? n - 23 : 0;
    pugi::xml_document documento;
    if (tamanho > 0) {
        const pugi::xml_parse_result lido =
            documento.load_buffer(q + 13, tamanho, pugi::parse_default, pugi::encoding_latin1);
        if (!lido) {
            // Not well-formed: the request stays unanswered and its wait ends
            // by time-out, as for a unit that sent nothing.
            GravaTrace(nullptr, 0, std::string("Erro XML ") + lido.description());
            return;
        }
    }
    std::string nome;
    if (codigo == CodigoXMLAgenda) {
        nome = "AGENDA.XML";
        std::set<std::string> vistos;
        const pugi::xml_node lista = documento.first_element_by_path("/zirurezuverizizir/idramais");
        for (pugi::xml_node item = lista.first_child(); item; item = item.next_sibling()) {
            if (item.type() != pugi::node_element) continue;
            std::string valores[3];
            int k = 0;
            for (pugi::xml_node campo = item.first_child(); campo && k < 3;
                 campo = campo.next_sibling())
                if (campo.type() == pugi::node_element) valores[k++] = campo.child_value();
            if (!vistos.insert(valores[0]).second) continue;
            const int i = IndiceRamal(NumeroOuZero(valores[0]));
            if (i < 0) continue;
            FRamais[static_cast<std::size_t>(i)].NomeDNS = CortaUtf8(valores[1], 20);
            FRamais[static_cast<std::size_t>(i)].Nome = CortaUtf8(valores[2], 30);
        }
    } else {
        char texto[16];
        std::snprintf(texto, sizeof texto, "%04u.XML", unsigned{codigo});
        nome = texto;
    }
    if (FTrace) GravaArquivoDiagnostico(FPastaPABX, nome, q + 13, tamanho);
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

std::string TPABX::TextoResultadoCTRL(std::uint16_t resultado, std::uint16_t comando,
                                      const std::uint8_t* q, std::uint32_t n) const {
    switch (resultado) {
        case 1: return "OK";
        case 2: return "Falha";
        case 3: return "TimeOut";
        case 4: return "Negado";
        case 5:
            if ((comando & 0xFF) == 0x82) {
                if (n < 15) return {};
                const std::uint16_t detalhe = LePalavra(q + 13);
                return detalhe == 4   ? "SdCard não conectado"
                       : detalhe == 5 ? "Identificador do SdCard é inválido ou inexistente"
                                      : "Erro SdCard desconhecido";
            }
            return "IOCTRL Error";
        default: return FIgnoraCTRLDesconhecido ? "OK" : "Desconhecido";
    }
}

void TPABX::AnalisaCTRL(const std::uint8_t* q, std::uint32_t n) {
    const std::uint16_t comando = LePalavra(q + 5);
    const std::uint16_t resultado = LePalavra(q + 7);
    // The console has no SD-card branch: a result 1 is "OK" whatever it names.
    if (resultado == 1 && q[9] == 0x8C && !FModoConsole) {
        TrataVolumeSDCard(q, n);
    } else {
        const std::string texto = TextoResultadoCTRL(resultado, comando, q, n);
        if (texto.empty()) return;
        FStatusCTRL.Grava(texto);
    }
    GravaTrace(nullptr, 0, "Analise CTRL-> " + FStatusCTRL.Le());
    // The waiter (a session step, a removal) goes on at once.
    SinalizaEvento();
}

void TPABX::TrataListaRamais(const std::uint8_t* q, std::uint32_t n) {
    FListaRamais.clear();
    for (std::uint32_t o = 15; o + 2 <= n; o += 2)
        if (const std::uint16_t numero = LePalavra(q + o); numero != 0)
            FListaRamais.push_back(std::to_string(numero));
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TrataRespostaRamal(const std::uint8_t* q, std::uint32_t n) {
    // Only the bytes kept for the frame: an oversized reply's tail was
    // counted, never stored.
    FRespostaRamal.Bloco = LePalavra(q + 9);
    FRespostaRamal.Indice = LePalavra(q + 11);
    FRespostaRamal.Dados.assign(q + std::min<std::uint32_t>(15, n), q + n);
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TrataVolumeSDCard(const std::uint8_t* q, std::uint32_t n) {
    FVolumeSDCard = {};
    if (n > 40) {
        std::uint8_t bruto[32] = {};
        std::memcpy(bruto, q + 13, std::min<std::size_t>(32, n - 13));
        auto le64 = [&](int o) {
            std::uint64_t v = 0;
            for (int i = 7; i >= 0; --i) v = (v << 8) | bruto[o + i];
            return static_cast<std::int64_t>(v);
        };
        FVolumeSDCard.Total = le64(0);
        FVolumeSDCard.Livre = le64(8);
        FVolumeSDCard.Usado = le64(16);
        std::memcpy(FVolumeSDCard.Reservado, bruto + 24, 8);
    }
    FStatusCTRL.Grava("OK");
}

// ------------------------------------------------------------------ Queries

int TPABX::IndiceRamal(int numero) {
    if (numero >= 1000 && numero <= 1899) return numero - 1000;
    if (numero >= 3000 && numero <= 3999) return numero - 2100;
    return -1;
}

bool TPABX::NomeDNSHabilitadoSemTrava(int indice) const {
    return indice >= 0 && static_cast<std::size_t>(indice) < FNomesDNS.size() &&
           !FNomesDNS[static_cast<std::size_t>(indice)].empty() &&
           FNomesDNS[static_cast<std::size_t>(indice)][0] == '0';
}

std::string TPABX::NomeDNSSemTrava(int indice) const {
    if (indice < 0 || static_cast<std::size_t>(indice) >= FNomesDNS.size()) return {};
    std::string_view nome(FNomesDNS[static_cast<std::size_t>(indice)]);
    if (!nome.empty()) nome.remove_prefix(1);
    if (!nome.empty() && nome[0] == '{') nome.remove_prefix(1);
    return std::string(nome);
}

bool TPABX::NomeDNSHabilitado(int indice) const {
    std::lock_guard trava(FTravaRX);
    return NomeDNSHabilitadoSemTrava(indice);
}

std::string TPABX::NomeDNS(int indice) const {
    std::lock_guard trava(FTravaRX);
    return NomeDNSSemTrava(indice);
}

int TPABX::BuscaRamalPorNome(std::string_view nome) const {
    // Extensions without a name would all match an empty text.
    if (Apara(nome).empty()) return 0;
    std::lock_guard trava(FTravaRX);
    for (std::size_t i = 0; i < FRamais.size(); ++i)
        if (FRamais[i].NomeDNS == nome)
            return i < 900 ? static_cast<int>(i) + 1000 : static_cast<int>(i) + 2100;
    return 0;
}
