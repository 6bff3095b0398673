#include "console/EstadoCentrais.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>
#include <cstdio>
#include <map>

#include "common/Traducao.h"
#include "console/ConfigArmazenamento.h"
#include "console/ControleMain.h"
#include "console/MDados.h"
#include "console/ValidaCampos.h"

namespace {

std::string TresDigitos(int codigo) {
    char b[16];
    std::snprintf(b, sizeof b, "%03d", codigo);
    return b;
}

std::optional<DataHora> Data(const Linha& l, const char* nome) {
    const int i = l.IndiceColuna(nome);
    if (i < 0 || l.IsNull(static_cast<unsigned>(i))) return std::nullopt;
    return l.GetTimestamp(static_cast<unsigned>(i));
}

long long Numero(const Linha& l, const char* nome) {
    const int i = l.IndiceColuna(nome);
    if (i < 0 || l.IsNull(static_cast<unsigned>(i))) return 0;
    return l.GetBigInt(static_cast<unsigned>(i));
}

}  // namespace

std::string DescricaoOperacaoDownload(int codigo) {
    static const std::map<int, const char*> textos{
        {1, "Iniciando download"},
        {12, "Iniciando download"},
        {2, "Conectando PABX"},
        {3, "Login PABX"},
        {4, "Acessando PABX"},
        {5, "Habilitando download"},
        {11, "Calculando download"},
        {13, "Download de arquivo"},
        {14, "Download concluído"},
        {15, "Iniciando importação"},
        {16, "Importando arquivo"},
        {17, "Importação concluída"},
        {21, "Erro ao acessar cartão SD"},
        {22, "Falha ao ler cartão SD"},
        {23, "Falhou login ao PABX"},
        {24, "Falha login ao FTP"},
    };
    auto t = textos.find(codigo);
    return t == textos.end() ? std::string() : t->second;
}

std::string FormataDuracao(const DataHora& inicio, const std::optional<DataHora>& fim) {
    long long s = 0;
    if (fim) s = SegundosDesdeEpoca(*fim) - SegundosDesdeEpoca(inicio);
    if (s < 0) s = 0;
    char b[32];
    std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return b;
}

std::vector<LinhaEstadoCentral> LeEstadoCentrais(MDados& dados) {
    std::vector<LinhaEstadoCentral> linhas;
    try {
        dados.Executa([&](Transaction& tr) {
            Statement st(tr, "SELECT PAB_CODIGO, PAB_DESCRICAO, PAB_SDCARDTOTAL, PAB_SDCARDUSED "
                             "FROM PABX ORDER BY PAB_DESCRICAO");
            auto c = st.Abre();
            while (c.Proxima()) {
                LinhaEstadoCentral l;
                l.codigo = c.GetInt(0);
                l.colunas[0] = c.IsNull(1) ? std::string() : Apara(c.GetText(1));
                l.colunas[1] = TresDigitos(l.codigo);
                const long long total = c.IsNull(2) ? 0 : c.GetBigInt(2);
                const long long usado = c.IsNull(3) ? 0 : c.GetBigInt(3);
                if (total > 0) {
                    char b[32];
                    std::snprintf(b, sizeof b, "%02.0f %%",
                                  static_cast<double>(usado) / static_cast<double>(total) * 100);
                    l.colunas[2] = b;
                }
                linhas.push_back(std::move(l));
            }
            Statement ult(tr, "SELECT FIRST 1 * FROM DWNHISTORY WHERE PAB_CODIGO = ? "
                              "ORDER BY DWN_DTINIDOWN DESC");
            for (LinhaEstadoCentral& l : linhas) {
                ult.SetInt(0, l.codigo);
                auto r = ult.Abre();
                if (!r.Proxima()) {
                    for (int i = 2; i < 8; ++i) l.colunas[i].clear();
                    continue;
                }
                const DataHora inicio = *Data(r, "DWN_DTINIDOWN");
                const int operacao = static_cast<int>(Numero(r, "DWN_OPERATUAL"));
                const int resultado = static_cast<int>(Numero(r, "DWN_RESULTADO"));
                l.colunas[3] = FormataDataHora(inicio, "dd/mm/yy hh:nn:ss");
                l.colunas[4] = FormataDuracao(
                    inicio, Data(r, operacao > 14 ? "DWN_DTFIMIMP" : "DWN_DTFIMDOWN"));
                l.colunas[5] = std::to_string(Numero(r, "DWN_ARQIMPORTADO")) + "/" +
                               std::to_string(Numero(r, "DWN_ARQBAIXAR") / 2);
                l.colunas[6] = FormataDecimal(
                    static_cast<double>(Numero(r, "DWN_BYTESBAIXADO")) / 1048576.0, 1);
                std::string situacao = DescricaoOperacaoDownload(operacao);
                const long long falhas = Numero(r, "DWN_FALHASOGG") + Numero(r, "DWN_FALHASXML") +
                                         Numero(r, "DWN_FALHASIMP");
                if (falhas > 0)
                    situacao += " (" + Traduz("falhas") + ": " + std::to_string(falhas) + ")";
                else if (operacao == 17 && resultado == 2)
                    situacao += " (" + Traduz("com erros") + ")";
                else if (operacao == 12 && resultado == 2)
                    situacao = Traduz("Falha durante acesso ao FTP");
                l.colunas[7] = situacao;
                r.Fecha();
            }
        });
    } catch (...) {
    }
    return linhas;
}

void ModeloEstadoCentrais::CarregaEstadoCentrais(MDados& dados) {
    auto novas = LeEstadoCentrais(dados);
    beginResetModel();
    linhas_ = std::move(novas);
    endResetModel();
}

int ModeloEstadoCentrais::rowCount(const QModelIndex& pai) const {
    return pai.isValid() ? 0 : static_cast<int>(linhas_.size());
}

int ModeloEstadoCentrais::columnCount(const QModelIndex& pai) const {
    return pai.isValid() ? 0 : 8;
}

QVariant ModeloEstadoCentrais::data(const QModelIndex& i, int papel) const {
    if (!i.isValid() || i.row() >= rowCount() || i.column() >= 8) return {};
    if (papel == Qt::DisplayRole)
        return QString::fromStdString(
            linhas_[static_cast<std::size_t>(i.row())].colunas[i.column()]);
    if (papel == Qt::TextAlignmentRole) {
        const int c = i.column();
        if (c == 1 || c == 2 || c == 4) return int(Qt::AlignCenter);
        if (c == 5 || c == 6) return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant ModeloEstadoCentrais::headerData(int secao, Qt::Orientation o, int papel) const {
    if (o != Qt::Horizontal || secao < 0 || secao >= 8) return {};
    if (papel == Qt::TextAlignmentRole)
        return int(secao >= 2 && secao <= 5 ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    if (papel != Qt::DisplayRole) return {};
    switch (secao) {
        case 0: return QString::fromStdString(Traduz("Central"));
        case 1: return QString("Cód");
        case 2: return QString("SDCard");
        case 3: return QString::fromStdString(Traduz("Último acesso"));
        case 4: return QString::fromStdString(Traduz("Duração"));
        case 5: return QString::fromStdString(Traduz("Arquivos"));
        case 6: return QString::fromStdString(Traduz("Tamanho") + " Mb");
        default: return QString::fromStdString(Traduz("Situação"));
    }
}

std::string ResolveIPv4(const std::string& nome, int limiteMs) {
    if (nome.empty()) return {};
    QEventLoop laco;
    std::string achado;
    bool respondeu = false;
    QTimer limite;
    limite.setSingleShot(true);
    QObject::connect(&limite, &QTimer::timeout, &laco, &QEventLoop::quit);
    const int id =
        QHostInfo::lookupHost(QString::fromStdString(nome), &laco, [&](const QHostInfo& info) {
            respondeu = true;
            for (const QHostAddress& a : info.addresses())
                if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                    achado = a.toString().toStdString();
                    break;
                }
            laco.quit();
        });
    if (!respondeu) {
        limite.start(limiteMs);
        laco.exec();
    }
    if (!respondeu) QHostInfo::abortHostLookup(id);
    return achado;
}

std::string LeUltimoRegistro(MDados& dados, ServidorGravacao& servidor) {
    ServidorGravacao s;
    bool achou = false;
    try {
        dados.Executa([&](Transaction& tr) {
            Statement st(tr, "SELECT CRL_GRVSERVER, CRL_GRVIP, CRL_GRVPORTA FROM CONTROLE");
            auto c = st.Abre();
            if (!c.Proxima()) return;
            achou = true;
            s.CRL_GRVSERVER = c.IsNull(0) ? std::string() : Apara(c.GetText(0));
            s.CRL_GRVIP = c.IsNull(1) ? std::string() : Apara(c.GetText(1));
            s.CRL_GRVPORTA = c.IsNull(2) ? 0 : static_cast<std::uint16_t>(c.GetInt(2));
        });
    } catch (...) {
        return {};
    }
    if (!achou) return {};
    const std::string resolvido = ResolveIPv4(s.CRL_GRVSERVER);
    if (!resolvido.empty()) s.CRL_GRVIP = resolvido;
    if (s.CRL_GRVIP.empty()) return {};
    servidor = s;
    return s.CRL_GRVSERVER + "  " + s.CRL_GRVIP + ":" + std::to_string(s.CRL_GRVPORTA);
}
