#include "console/EdicaoCentral.h"

#include <cstdint>
#include <stdexcept>

#include "common/CifraTexto.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Esquema.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"
#include "console/TextoColuna.h"
#include "console/ValidaCampos.h"

namespace {

constexpr const char* Recuo = "      ";
constexpr int UltimoMinuto = MinutosDia - 1;  // 23:59

// The update found no row: the unit was deleted by someone else meanwhile.
class CentralInexistente : public std::runtime_error {
  public:
    CentralInexistente() : std::runtime_error(Traduz("A central não existe mais")) {}
};

std::string Texto(const Linha& l, const char* nome) {
    const int i = l.IndiceColuna(nome);
    if (i < 0 || l.IsNull(static_cast<unsigned>(i))) return {};
    return Apara(l.GetText(static_cast<unsigned>(i)));
}

int Inteiro(const Linha& l, const char* nome, int padrao = 0) {
    const int i = l.IndiceColuna(nome);
    if (i < 0 || l.IsNull(static_cast<unsigned>(i))) return padrao;
    return l.GetInt(static_cast<unsigned>(i));
}

std::string Decifra(const std::string& cifra) {
    return cifra.empty() ? std::string() : DescriptografaTexto(cifra);
}

bool Digitos(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool TemControle(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

std::optional<int> Numero(std::string_view s) {
    if (s.empty() || s.size() > 2 || !Digitos(s)) return std::nullopt;
    return std::stoi(std::string(s));
}

// The port a field holds, when it is one a connection can use.
std::optional<std::int32_t> PortaDe(std::string_view texto) {
    const std::optional<long> p = LePorta(texto);
    if (!p || !PortaValida(*p)) return std::nullopt;
    return static_cast<std::int32_t>(*p);
}

std::string Largura(const char* rotulo, std::size_t maximo) {
    return Traduz(rotulo) + ": " + Traduz("no máximo") + " " + std::to_string(maximo) + " " +
           Traduz("caracteres");
}

std::string NaoPermitido(const char* rotulo) {
    return Traduz(rotulo) + ": " + Traduz("contém caractere não permitido");
}

}  // namespace

// --- Download windows ------------------------------------------------------

std::string HoraTexto(int minutos) {
    const int h = minutos / 60, m = minutos % 60;
    std::string r(5, '0');
    r[0] = static_cast<char>('0' + h / 10);
    r[1] = static_cast<char>('0' + h % 10);
    r[2] = ':';
    r[3] = static_cast<char>('0' + m / 10);
    r[4] = static_cast<char>('0' + m % 10);
    return r;
}

std::string EntradaJanela(const JanelaDownload& j) {
    std::string r = Recuo + HoraTexto(j.inicio);
    if (j.fim) r += " - " + HoraTexto(*j.fim);
    return r;
}

std::pair<std::string, std::string> ColunasEntrada(std::string_view entrada) {
    const std::string t = Apara(entrada);
    const auto traco = t.find(" - ");
    if (traco == std::string::npos) return {t, {}};
    return {Apara(t.substr(0, traco)), Apara(t.substr(traco + 3))};
}

std::optional<int> LeHoraInicio(std::string_view texto) {
    const std::string t = Apara(texto);
    const auto dois = t.find(':');
    if (dois == std::string::npos) return std::nullopt;
    const auto h = Numero(std::string_view(t).substr(0, dois));
    const auto m = Numero(std::string_view(t).substr(dois + 1));
    if (!h || !m || *h > 23 || *m > 59) return std::nullopt;
    return *h * 60 + *m;
}

std::vector<JanelaDownload> ExpandeJanelas(int inicio, int limite, int frequencia) {
    std::vector<JanelaDownload> r;
    if (inicio < 0 || inicio > UltimoMinuto) return r;
    for (int s = inicio;;) {
        JanelaDownload j{s, std::nullopt};
        bool ultima = false;
        if (limite > 0) {
            // Past 23:59:59 the window is cut to end at 23:59, and it is the last.
            if (s + limite >= MinutosDia) {
                j.fim = UltimoMinuto;
                ultima = true;
            } else {
                j.fim = s + limite;
            }
        }
        r.push_back(j);
        if (ultima || frequencia <= 0 || s + frequencia >= MinutosDia) break;
        s += frequencia;
    }
    return r;
}

bool HorarioJaDefinido(int inicio, const std::vector<std::string>& entradas) {
    const std::string hora = HoraTexto(inicio);
    for (const std::string& e : entradas)
        if (ColunasEntrada(e).first == hora) return true;
    return false;
}

const std::vector<ItemDuracao>& ItensLimiteTempo() {
    static const std::vector<ItemDuracao> itens{{"15 min", 15}, {"30 min", 30},   {"45 min", 45},
                                                {"1 hora", 60}, {"2 horas", 120}, {"3 horas", 180}};
    return itens;
}

const std::vector<ItemDuracao>& ItensFrequencia() {
    static const std::vector<ItemDuracao> itens{{"1 hora", 60},   {"2 horas", 120},
                                                {"3 horas", 180}, {"4 horas", 240},
                                                {"6 horas", 360}, {"12 horas", 720}};
    return itens;
}

// --- The unit ----------------------------------------------------------------

std::optional<std::string> ValidaCentral(const EdicaoCentral& e) {
    const bool ftp = e.conexao != ConexaoUSB;
    const std::string nome = Apara(e.nome), endereco = Apara(e.endereco),
                      usuario = Apara(e.usuarioFTP), pasta = Apara(e.pastaUSB), ddd = Apara(e.ddd);
    if (nome.empty()) return Traduz("Informe o nome da central PABX");
    if (endereco.empty()) return Traduz("Informe o endereço IP da central");
    if (!PortaDe(e.portaKELV)) return Traduz("Informe a porta do serviço de gravação");
    if (Apara(e.senhaKELV).empty()) return Traduz("Informe a senha de acesso ao serviço KELV");
    if (ftp) {
        if (usuario.empty()) return Traduz("Informe o nome do usuário de FTP ZIMB");
        if (Apara(e.senhaFTP).empty()) return Traduz("Informe a senha de acesso ao FTP ZIMB");
        if (!PortaDe(e.portaFTP)) return Traduz("Informe a porta do FTP ZIMB");
    } else if (pasta.empty() || pasta.front() != '/') {
        return Traduz("Informe a pasta de montagem da unidade USB");
    }
    // Every value written must fit its column whole and in its character set.
    struct Campo {
        const char* rotulo;
        std::string valor;
        std::size_t maximo;
        bool latin1;  // enciphered: the cipher carries Latin-1
    } campos[] = {{"Nome da central", nome, LarguraNome, false},
                  {"Endereço IP da central", endereco, LarguraEndereco, false},
                  {"Senha KELV", e.senhaKELV, LarguraSenhaKELV, true},
                  {"Usuário FTP", usuario, LarguraUsuarioFTP, false},
                  {"Senha FTP", ftp ? e.senhaFTP : std::string(), LarguraSenhaFTP, true},
                  {"Unidade de disco de origem das gravações", pasta, LarguraPastaUSB, false},
                  {"Código DDD", ddd, LarguraDDD, false}};
    for (const Campo& c : campos) {
        if (ContaCaracteresUtf8(c.valor) > c.maximo) return Largura(c.rotulo, c.maximo);
        const bool cabe = c.latin1 ? SoLatin1(c.valor) : CabeNaColuna(c.valor, c.maximo);
        if (!cabe || TemControle(c.valor)) return NaoPermitido(c.rotulo);
    }
    if (!ftp) {
        const std::string caminho = ComBarra(pasta) + SubpastaUSB;
        const std::size_t maximo = LarguraCaminhoUSB - std::string_view(SubpastaUSB).size() - 1;
        if (ContaCaracteresUtf8(caminho) > LarguraCaminhoUSB)
            return Largura("Unidade de disco de origem das gravações", maximo);
    }
    if (!ServidorValido(endereco))
        return Traduz("Endereço IP da central") + ": " + Traduz("endereço inválido");
    if (!Digitos(ddd)) return NaoPermitido("Código DDD");
    if (e.esperaUSB < EsperaUSBMinima || e.esperaUSB > EsperaUSBMaxima)
        return Traduz("Tempo de espera máximo para conexão USB") + ": " +
               std::to_string(EsperaUSBMinima) + "-" + std::to_string(EsperaUSBMaxima);
    return std::nullopt;
}

EdicaoCentral CarregaCentral(MDados& dados, int codigo) {
    EdicaoCentral e;
    bool achou = false;
    dados.Executa([&](Transaction& tr) {
        {
            Statement st(tr, "SELECT * FROM PABX WHERE PAB_CODIGO = ?");
            st.SetInt(0, codigo);
            auto c = st.Abre();
            if (!c.Proxima()) return;
            achou = true;
            e.nome = Texto(c, "PAB_DESCRICAO");
            e.endereco = Texto(c, "PAB_KELVENDERIP");
            e.portaKELV = Texto(c, "PAB_KELVPORTA");
            e.senhaKELV = Decifra(Texto(c, "PAB_KELVSENHA"));
            e.conexao = Inteiro(c, "PAB_USB_ZIMB") == ConexaoUSB ? ConexaoUSB : ConexaoFTP;
            e.pastaUSB = Texto(c, "PAB_USBPATH");
            e.esperaUSB = Inteiro(c, "PAB_USBWAIT", 60);
            e.portaFTP = Texto(c, "PAB_KELVFTPPORT");
            e.segurancaFTP = 0;
            e.usuarioFTP = Texto(c, "PAB_KELVFTPUSER");
            e.senhaFTP = Decifra(Texto(c, "PAB_KELVFTPPASS"));
            e.ddd = Texto(c, "PAB_DDDCODIGO");
        }
        e.horarios.clear();
        Statement st(tr, "SELECT DOW_HORAINI, DOW_HORAFIM FROM DOWNPABX WHERE PAB_CODIGO = ? "
                         "ORDER BY DOW_HORAINI");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        while (c.Proxima()) {
            std::string entrada = Recuo + Apara(c.GetText(0));
            const std::string fim = Apara(c.GetText(1));
            if (!fim.empty()) entrada += " - " + fim;
            e.horarios.push_back(entrada);
        }
    });
    if (!achou)
        throw std::runtime_error(Traduz("A central não existe mais") + " (" +
                                 std::to_string(codigo) + ")");
    return e;
}

bool SalvaCentral(MDados& dados, Mensageiro& mensagens, const EdicaoCentral& e, int& codigo) {
    if (auto recusa = ValidaCentral(e)) {
        mensagens.Mostra(TipoMensagem::Informacao, *recusa);
        return false;
    }
    const bool ftp = e.conexao != ConexaoUSB;
    // The FTP port is hidden in USB mode and unused there; the column keeps a
    // usable one for a later switch to FTP.
    const std::int32_t portaFTP = PortaDe(e.portaFTP).value_or(21);
    const std::string senhaKELV = CriptografaTexto(e.senhaKELV);
    const std::string senhaFTP = ftp ? CriptografaTexto(e.senhaFTP) : std::string();
    std::vector<std::string> horarios = e.horarios;
    if (horarios.empty()) horarios.push_back(EntradaJanela({0, std::nullopt}));

    // Values bound in the column order both statements share.
    auto liga = [&](Statement& st, unsigned i) {
        st.SetText(i, Apara(e.nome))
            .SetText(i + 1, Apara(e.endereco))
            .SetInt(i + 2, *PortaDe(e.portaKELV))
            .SetText(i + 3, senhaKELV)
            .SetInt(i + 4, portaFTP)
            .SetText(i + 5, Apara(e.usuarioFTP))
            .SetText(i + 6, senhaFTP)
            .SetInt(i + 7, e.segurancaFTP)
            .SetText(i + 8, Apara(e.ddd))
            .SetInt(i + 9, ftp ? ConexaoFTP : ConexaoUSB)
            .SetText(i + 10, Apara(e.pastaUSB))
            .SetInt(i + 11, e.esperaUSB);
    };
    int gravado = 0;
    try {
        dados.Executa([&](Transaction& tr) {
            if (codigo != 0) {
                Statement st(tr,
                             "UPDATE PABX SET PAB_DESCRICAO = ?, PAB_KELVENDERIP = ?, "
                             "PAB_KELVPORTA = ?, PAB_KELVSENHA = ?, PAB_KELVFTPPORT = ?, "
                             "PAB_KELVFTPUSER = ?, PAB_KELVFTPPASS = ?, PAB_KELVFTPSECURITY = ?, "
                             "PAB_DDDCODIGO = ?, PAB_USB_ZIMB = ?, PAB_USBPATH = ?, "
                             "PAB_USBWAIT = ?, PAB_KELVPROXY = 0, PAB_KELVPROXYSERVER = '', "
                             "PAB_KELVPROXYPORT = 0, PAB_KELVPROXYUSER = '', "
                             "PAB_KELVPROXYPASS = '', PAB_DTULTDOWN = NULL WHERE PAB_CODIGO = ?");
                liga(st, 0);
                st.SetInt(12, codigo);
                if (st.Executa() == 0) throw CentralInexistente();
                gravado = codigo;
            } else {
                gravado = InsereComProximoCodigo(
                    tr, "PABX", "PAB_CODIGO", [&](Transaction& t, std::int32_t novo) {
                        Statement st(t,
                                     "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, "
                                     "PAB_KELVENDERIP, PAB_KELVPORTA, PAB_KELVSENHA, "
                                     "PAB_KELVFTPPORT, PAB_KELVFTPUSER, PAB_KELVFTPPASS, "
                                     "PAB_KELVFTPSECURITY, PAB_DDDCODIGO, PAB_USB_ZIMB, "
                                     "PAB_USBPATH, PAB_USBWAIT, PAB_KELVPROXY, "
                                     "PAB_KELVPROXYSERVER, PAB_KELVPROXYPORT, PAB_KELVPROXYUSER, "
                                     "PAB_KELVPROXYPASS) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                     "?, ?, ?, 0, '', 0, '', '')");
                        st.SetInt(0, novo);
                        liga(st, 1);
                        st.Executa();
                    });
            }
            {
                Statement st(tr, "DELETE FROM DOWNPABX WHERE PAB_CODIGO = ?");
                st.SetInt(0, gravado);
                st.Executa();
            }
            Statement st(tr, "INSERT INTO DOWNPABX (PAB_CODIGO, DOW_HORAINI, DOW_HORAFIM) "
                             "VALUES (?, ?, ?)");
            for (const std::string& h : horarios) {
                const auto [inicio, fim] = ColunasEntrada(h);
                st.SetInt(0, gravado).SetText(1, inicio).SetText(2, fim);
                st.Executa();
            }
        });
    } catch (const SemConexaoBD&) {
        if (!dados.AvisoConexaoPendente()) dados.BaseConectada();
        return false;
    } catch (const FirebirdError& erro) {
        if (!erro.ConexaoPerdida())
            mensagens.Mostra(TipoMensagem::Informacao,
                             Traduz("Não foi possível salvar informações") + "\n" + erro.what());
        return false;
    } catch (const std::exception& erro) {
        mensagens.Mostra(TipoMensagem::Informacao,
                         Traduz("Não foi possível salvar informações") + "\n" + erro.what());
        return false;
    }
    codigo = gravado;
    return true;
}
