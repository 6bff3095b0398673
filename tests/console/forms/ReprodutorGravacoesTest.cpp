// The recordings window's player against the real server: recordings filed
// into a unit database by the service's own filing (plain WAV, Ogg Vorbis
// and both enciphered), played into ALSA's file PCM through the device named
// in VERUZADU.INI, and every way a playback can fail, each with its one box.

#include <sys/stat.h>
#include <vorbis/vorbisfile.h>

#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTimeEdit>
#include <QToolButton>
#include <algorithm>
#include <set>

#include "tests/console/TesteConsole.h"
#include "common/ArquivoCriptografado.h"
#include "common/CifraTexto.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "console/Gravacoes.h"
#include "console/ReprodutorGravacoes.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormGravacoes.h"
#include "console/forms/PlayerGravacoes.h"
#include "tests/console/audio/AlsaTeste.h"
#include "tests/console/audio/SorvedouroCompassado.h"

namespace fs = std::filesystem;

namespace {

const std::string Senha = "chave de teste";

struct Gravada {
    int codigo = 0;
    int tipo = 0;
    int duracao = 0;
    std::string ramal, destino, data;
    DataHora quando;
};

std::string DecodificaOgg(const fs::path& p) {
    OggVorbis_File vf;
    EXPECT_EQ(ov_fopen(p.c_str(), &vf), 0);
    std::string r;
    char buf[4096];
    int secao = 0;
    for (long n; (n = ov_read(&vf, buf, sizeof buf, 0, 2, 1, &secao)) > 0;) r.append(buf, n);
    ov_clear(&vf);
    return r;
}

class Reprodutor : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        programa_ = new ProgramaTeste("player", {1});
        if (!programa_->Pronta()) return;
        // Four filings of a simulated unit's store: plain, Ogg, enciphered
        // WAV (0x81) and enciphered Ogg (0x82), by the service's filing.
        PastaTemporaria trabalho;
        const ParametrosConexao u = programa_->inst.Unidade(1);
        const ParametrosConexao m = programa_->inst.Principal();
        OpcoesProcesso op;
        op.ambiente = {"VZT_SENHA_BD=" + u.senha, "VZT_SENHA_GRAVACOES=" + Senha};
        op.saida = trabalho / "arquiva.log";
        op.limite = std::chrono::minutes(3);
        const auto r =
            ExecutaProcesso({ARQUIVA_GRAVACOES_EXE, "--unit", u.banco, "--main", m.banco, "--user",
                             u.usuario, "--work", trabalho.Caminho().string(), "--per-kind", "5"},
                            op);
        ASSERT_TRUE(r.Sucesso()) << LeTudo(trabalho / "arquiva.log");
    }
    static void TearDownTestSuite() {
        delete programa_;
        programa_ = nullptr;
    }

    void SetUp() override {
        if (!programa_->Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        ::setenv("VERUZADU_HOME", programa_->pasta.Caminho().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime_.Caminho().c_str(), 1);
        programa_->Ini().WriteString("AudioOutput", "Device", AlsaArquivoTeste::Dispositivo);
        {
            Attachment att = programa_->Principal();
            att.Executa("DELETE FROM LOGHISTORY");
        }
        std::string erro;
        ASSERT_TRUE(ctx_.dados.ConectaBancoDados(erro)) << erro;
        ctx_.dados.ConectaBasePABX(1);
        ctx_.UsuarioCodigo = 1;
        ctx_.UsuarioNome = "Administrador";
        ctx_.UsuarioPerfil = 1;
        gravadas_ = Gravadas();
        ASSERT_EQ(gravadas_.size(), 20u);
    }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    // The rows as filed, in filing order.
    static std::vector<Gravada> Gravadas() {
        Attachment att = programa_->Unidade(1);
        Transaction tr(att, true);
        Statement st(tr, "SELECT GRV_CODIGO, GRV_TPFILE, GRV_DURACAO, GRV_RAMGRAVADO, GRV_DESTINO, "
                         "GRV_DATAGRV FROM GRAVACAO ORDER BY GRV_CODIGO");
        std::vector<Gravada> r;
        for (Cursor c = st.Abre(); c.Proxima();)
            r.push_back({c.GetInt(0), c.GetInt(1), c.GetInt(2), Apara(c.GetText(3)),
                         Apara(c.GetText(4)), FormataData(c.GetTimestamp(5)), c.GetTimestamp(5)});
        return r;
    }
    static std::string FormataData(const DataHora& d) {
        char b[32];
        std::snprintf(b, sizeof b, "%02d/%02d/%02d %02d:%02d:%02d", d.dia, d.mes, d.ano % 100,
                      d.hora, d.minuto, d.segundo);
        return b;
    }
    static std::string Blob(int codigo) {
        Attachment att = programa_->Unidade(1);
        Transaction tr(att, true);
        Statement st(tr, "SELECT GRV_BINDADOS FROM GRAVACAO WHERE GRV_CODIGO = ?");
        st.SetInt(0, codigo);
        Cursor c = st.Abre();
        return c.Proxima() && !c.IsNull(0) ? c.ReadBlob(0) : std::string();
    }
    // What the device must receive for a recording: the WAV's data chunk (the
    // filing writes the 44-byte header) or libvorbisfile's decoding.
    std::string Esperado(const Gravada& g) {
        std::string arquivo = Blob(g.codigo);
        if (g.tipo & 0x80) arquivo = DescriptografaBytesDad(arquivo, Senha);
        if ((g.tipo & 0x7F) == 2) {
            const fs::path ogg = pastaTeste_ / "esperado.ogg";
            Grava(ogg, arquivo);
            return DecodificaOgg(ogg);
        }
        return arquivo.substr(44);
    }
    static void Executa(const std::string& sql, const std::function<void(Statement&)>& liga) {
        Attachment att = programa_->Unidade(1);
        Transaction tr(att);
        Statement st(tr, sql);
        liga(st);
        st.Executa();
        tr.Commit();
    }

    // A grid over the filed rows (row n is gravadas_[n-1]) with `marcadas` ticked.
    GradeReproducao Grade() {
        GradeReproducao g;
        g.MarcaSemArquivo = MarcaSemArquivo();
        g.MarcaSemAudio = MarcaSemAudio();
        g.ProximaLinhaSelecionada = [this](int linha) {
            auto it = marcadas_.upper_bound(linha);
            return it == marcadas_.end() ? 0 : *it;
        };
        g.Linha = [this](int linha) {
            const Gravada& x = gravadas_.at(static_cast<std::size_t>(linha - 1));
            LinhaReproducao l{std::to_string(x.codigo), x.data, x.ramal, x.destino,
                              SegundosParaHora(x.duracao)};
            if (auto it = duracoes_.find(linha); it != duracoes_.end()) l.duracao = it->second;
            return l;
        };
        g.Recarga = [this](bool ativa) { recargas_.push_back(ativa); };
        return g;
    }
    std::unique_ptr<ReprodutorGravacoes> Player(SaidaAudio::FabricaDispositivo fabrica = {}) {
        return std::make_unique<ReprodutorGravacoes>(
            ctx_.dados, ctx_.mensagens, ctx_.RegistraHistorico, Grade(), std::move(fabrica));
    }
    static bool EmDescanso(ReprodutorGravacoes& r) {
        return r.Saida().Status() == SaidaAudio::Estado::Ocioso && !r.Controles().stop &&
               r.LinhaTocando() == 0;
    }
    std::vector<std::string> Historico20() {
        Attachment att = programa_->Principal();
        Transaction tr(att, true);
        Statement st(tr, "SELECT LOG_OPERACAO, LOG_DETALHES FROM LOGHISTORY ORDER BY LOG_CODIGO");
        std::vector<std::string> r;
        for (Cursor c = st.Abre(); c.Proxima();) {
            EXPECT_EQ(c.GetInt(0), 20);
            r.push_back(Apara(c.GetText(1)));
        }
        return r;
    }
    std::string Detalhe(const Gravada& g) { return g.data + " " + g.ramal + " " + g.destino; }
    int Linha(int tipo, int n = 0) {
        for (std::size_t i = 0; i < gravadas_.size(); ++i)
            if (gravadas_[i].tipo == tipo && n-- == 0) return static_cast<int>(i) + 1;
        ADD_FAILURE() << "no row of type " << tipo;
        return 1;
    }

    static ProgramaTeste* programa_;
    PastaTemporaria pastaTeste_;
    PastaTemporaria runtime_;
    ContextoConsole ctx_;
    std::vector<Gravada> gravadas_;
    std::set<int> marcadas_;
    std::map<int, std::string> duracoes_;
    std::vector<bool> recargas_;
};
ProgramaTeste* Reprodutor::programa_ = nullptr;

TEST_F(Reprodutor, CadaTipoFiled_ChegaAoDispositivoByteAByte) {
    AlsaArquivoTeste alsa(pastaTeste_.Caminho());
    auto r = Player();
    std::vector<std::string> detalhes;
    for (int tipo : {1, 2, 0x81, 0x82}) {
        SCOPED_TRACE(tipo);
        const int linha = Linha(tipo);
        const Gravada& g = gravadas_[static_cast<std::size_t>(linha - 1)];
        fs::remove(alsa.Arquivo());
        marcadas_ = {linha};
        r->Play();
        ASSERT_TRUE(EsperaAte([&] { return EmDescanso(*r); }));
        const std::string esperado = Esperado(g);
        const std::string saida = alsa.Saida();
        EXPECT_EQ(saida.size(), esperado.size());
        EXPECT_TRUE(saida == esperado);
        detalhes.push_back(Detalhe(g));
        EXPECT_TRUE(fs::is_empty(r->Pasta().Caminho()));
        EXPECT_EQ(r->Controles().figura, FiguraPlay::PlayNormal);
        EXPECT_TRUE(r->Controles().play);
        EXPECT_FALSE(r->Controles().trilha);
    }
    EXPECT_TRUE(ctx_.mensagens.Mostradas().empty());
    EXPECT_EQ(Historico20(), detalhes);
    ASSERT_FALSE(recargas_.empty());
    EXPECT_TRUE(recargas_.back());
}

TEST_F(Reprodutor, MarcadasSegundaQuintaENona_TocamEmOrdemEParam) {
    AlsaArquivoTeste alsa(pastaTeste_.Caminho());
    auto r = Player();
    marcadas_ = {2, 5, 9};
    r->Play();
    ASSERT_TRUE(EsperaAte([&] { return EmDescanso(*r) && Historico20().size() == 3; }));
    std::string esperado;
    std::vector<std::string> detalhes;
    for (int l : {2, 5, 9}) {
        esperado += Esperado(gravadas_[l - 1]);
        detalhes.push_back(Detalhe(gravadas_[l - 1]));
    }
    const std::string saida = alsa.Saida();
    EXPECT_EQ(saida.size(), esperado.size());
    EXPECT_TRUE(saida == esperado);
    EXPECT_EQ(Historico20(), detalhes);
    EXPECT_TRUE(ctx_.mensagens.Mostradas().empty());
}

TEST_F(Reprodutor, Cifrada_VaiParaAPastaPrivadaComoDADEWAV_QueSomeAoFim) {
    auto reg = std::make_shared<RegistroSorvedouro>();
    auto r = Player([reg] { return std::make_unique<SorvedouroCompassado>(reg); });
    const int linha = Linha(0x81);
    const int codigo = gravadas_[linha - 1].codigo;
    marcadas_ = {linha};
    r->Play();
    ASSERT_EQ(r->Saida().Status(), SaidaAudio::Estado::Tocando);
    const fs::path pasta = r->Pasta().Caminho();
    EXPECT_EQ(pasta.parent_path(), runtime_.Caminho());
    struct stat st {};
    ASSERT_EQ(::stat(pasta.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string g = "G" + std::to_string(codigo);
    EXPECT_TRUE(fs::exists(pasta / (g + ".DAD")));
    EXPECT_TRUE(fs::exists(pasta / (g + ".WAV")));
    EXPECT_EQ(r->Controles().figura, FiguraPlay::PauseNormal);
    EXPECT_TRUE(r->Controles().stop && r->Controles().forward && r->Controles().rewind);
    ASSERT_FALSE(recargas_.empty());
    EXPECT_FALSE(recargas_.back());  // no reload while it plays

    // Play pauses, play again resumes where it stood.
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() >= 4000; }));
    r->Play();
    EXPECT_TRUE(r->Pausado());
    EXPECT_EQ(r->Controles().figura, FiguraPlay::PlayNormal);
    QTest::qWait(300);
    const std::size_t parado = reg->Quadros();
    QTest::qWait(300);
    EXPECT_EQ(reg->Quadros(), parado);
    r->Play();
    EXPECT_FALSE(r->Pausado());
    EXPECT_EQ(r->Saida().Status(), SaidaAudio::Estado::Tocando);
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() > parado; }));

    r->Stop();
    ASSERT_TRUE(EsperaAte([&] { return EmDescanso(*r); }));
    EXPECT_TRUE(fs::is_empty(pasta));
    EXPECT_EQ(r->Controles().tempoInicio, "00:00:00");
    r.reset();
    EXPECT_FALSE(fs::exists(pasta));
}

TEST_F(Reprodutor, FalhasDeReproducao_UmaCaixaCadaESemHistorico) {
    AlsaArquivoTeste alsa(pastaTeste_.Caminho());
    const int wav = Linha(1, 1), wav2 = Linha(1, 2), wav3 = Linha(1, 3), cifrada = Linha(0x81, 1),
              ogg = Linha(2, 1);
    const int cWav = gravadas_[wav - 1].codigo, cWav2 = gravadas_[wav2 - 1].codigo,
              cWav3 = gravadas_[wav3 - 1].codigo, cCifrada = gravadas_[cifrada - 1].codigo,
              cOgg = gravadas_[ogg - 1].codigo;
    const std::string blobWav = Blob(cWav), blobCifrada = Blob(cCifrada), blobOgg = Blob(cOgg);
    struct Caso {
        const char* nome;
        std::function<void()> prepara;
        std::function<void()> desfaz;
        int linha;
        TipoMensagem tipo;
        std::string texto;
    } casos[] = {
        {"chave errada",
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_CONTROLE = ? WHERE GRV_CODIGO = ?",
                     [&](Statement& s) {
                         s.SetText(0, CriptografaTexto("outra")).SetInt(1, cCifrada);
                     });
         },
         [&] {
             Executa(
                 "UPDATE GRAVACAO SET GRV_CONTROLE = ? WHERE GRV_CODIGO = ?",
                 [&](Statement& s) { s.SetText(0, CriptografaTexto(Senha)).SetInt(1, cCifrada); });
         },
         cifrada, TipoMensagem::Erro, "Erro ao executar arquivo de áudio\nArquivo WAV inválido"},
        {"BLOB vazio",
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetBlob(0, "").SetInt(1, cWav); });
         },
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetBlob(0, blobWav).SetInt(1, cWav); });
         },
         wav, TipoMensagem::Informacao, "Arquivo de áudio desta ligação não disponível"},
        {"BLOB nulo",
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_BINDADOS = NULL WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetInt(0, cWav); });
         },
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetBlob(0, blobWav).SetInt(1, cWav); });
         },
         wav, TipoMensagem::Informacao, "Arquivo de áudio desta ligação não disponível"},
        {"dispositivo desconhecido",
         [&] { programa_->Ini().WriteString("AudioOutput", "Device", "nao-existe-vz"); },
         [&] {
             programa_->Ini().WriteString("AudioOutput", "Device", AlsaArquivoTeste::Dispositivo);
         },
         wav2, TipoMensagem::Erro,
         "Erro ao executar arquivo de áudio\nDispositivo de áudio \"nao-existe-vz\""},
        {"MP3",
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_TPFILE = 4 WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetInt(0, cWav3); });
         },
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_TPFILE = 1 WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetInt(0, cWav3); });
         },
         wav3, TipoMensagem::Erro,
         "Erro ao executar arquivo de áudio\nFormato de áudio não suportado (MP3)"},
        {"cabeçalho WAV quebrado",
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetBlob(0, blobWav.substr(0, 30)).SetInt(1, cWav2); });
         },
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetBlob(0, Blob(cWav)).SetInt(1, cWav2); });
         },
         wav2, TipoMensagem::Erro, "Erro ao executar arquivo de áudio\nArquivo WAV inválido"},
        {"Ogg quebrado",
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetBlob(0, "OggS" + blobWav).SetInt(1, cOgg); });
         },
         [&] {
             Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
                     [&](Statement& s) { s.SetBlob(0, blobOgg).SetInt(1, cOgg); });
         },
         ogg, TipoMensagem::Erro, "Erro ao executar arquivo de áudio\nArquivo Ogg Vorbis inválido"},
        {"sem arquivo", [&] { duracoes_[wav] = MarcaSemArquivo(); }, [&] { duracoes_.clear(); },
         wav, TipoMensagem::Informacao, "Arquivo de áudio desta ligação não disponível"},
        {"sem áudio", [&] { duracoes_[wav] = MarcaSemAudio(); }, [&] { duracoes_.clear(); }, wav,
         TipoMensagem::Informacao, "Não foi capturado áudio nesta ligação"},
        {"duração zero", [&] { duracoes_[wav] = "00:00:00"; }, [&] { duracoes_.clear(); }, wav,
         TipoMensagem::Informacao, "Não é possível reproduzir arquivo com duração 00:00:00"},
    };
    (void)blobCifrada;
    auto r = Player();
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        c.prepara();
        const std::size_t antes = ctx_.mensagens.Mostradas().size();
        // The ticked row is followed by another: a failure ends the run.
        marcadas_ = {c.linha, 20};
        ctx_.mensagens.ProximaResposta(RespostaMensagem::Ok);
        recargas_.clear();
        r->Play();
        EXPECT_TRUE(EsperaAte([&] { return EmDescanso(*r); }));
        QTest::qWait(50);
        c.desfaz();
        const auto& m = ctx_.mensagens.Mostradas();
        ASSERT_EQ(m.size(), antes + 1);
        EXPECT_EQ(m.back().caption, CaixaMensagem::Caption(c.tipo));
        EXPECT_TRUE(m.back().texto.startsWith(QString::fromStdString(c.texto)))
            << m.back().texto.toStdString();
        EXPECT_TRUE(Historico20().empty());
        EXPECT_TRUE(alsa.Saida().empty());
        EXPECT_TRUE(r->Controles().play);
        EXPECT_FALSE(r->Controles().stop || r->Controles().trilha);
        EXPECT_EQ(r->Controles().figura, FiguraPlay::PlayNormal);
        ASSERT_FALSE(recargas_.empty());
        EXPECT_TRUE(recargas_.back());
        if (r->Pasta().Existe()) {
            EXPECT_TRUE(fs::is_empty(r->Pasta().Caminho()));
        }
    }
}

TEST_F(Reprodutor, TrilhaESaltos_MovemAReproducao) {
    auto reg = std::make_shared<RegistroSorvedouro>();
    auto r = Player([reg] { return std::make_unique<SorvedouroCompassado>(reg); });
    // The longest plain WAV among the filed rows.
    int linha = 0;
    for (std::size_t i = 0; i < gravadas_.size(); ++i)
        if (gravadas_[i].tipo == 1 &&
            (linha == 0 || gravadas_[i].duracao > gravadas_[linha - 1].duracao))
            linha = static_cast<int>(i) + 1;
    ASSERT_GE(gravadas_[linha - 1].duracao, 3);
    marcadas_ = {linha};
    r->Play();
    const int maximo = r->Controles().trilhaMaximo;
    EXPECT_EQ(maximo, gravadas_[linha - 1].duracao);
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() >= 800; }));
    // Released at the end: the rest is skipped and the playback ends.
    r->SoltaTrilha(maximo);
    ASSERT_TRUE(EsperaAte([&] { return EmDescanso(*r); }, 10000));
    EXPECT_LT(reg->Quadros(), static_cast<std::size_t>(maximo) * 8000 / 2);
    EXPECT_EQ(Historico20().size(), 1u);
}

TEST_F(Reprodutor, GravacaoDeMenosDeUmSegundo_TrilhaSemFaixaIgnoraOSalto) {
    auto reg = std::make_shared<RegistroSorvedouro>();
    auto r = Player([reg] { return std::make_unique<SorvedouroCompassado>(reg); });
    const int linha = Linha(1, 4);
    const int codigo = gravadas_[linha - 1].codigo;
    const std::string original = Blob(codigo);
    // Half a second: the filing's 44-byte header with 4000 frames.
    std::string curta = original.substr(0, 44) + std::string(8000, '\x11');
    curta.replace(40, 4, std::string("\x40\x1f\x00\x00", 4));
    curta.replace(4, 4, std::string("\x64\x1f\x00\x00", 4));
    Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
            [&](Statement& s) { s.SetBlob(0, curta).SetInt(1, codigo); });
    marcadas_ = {linha};
    r->Play();
    EXPECT_EQ(r->Controles().trilhaMaximo, 0);
    r->SoltaTrilha(0);
    r->SoltaTrilha(5);
    EXPECT_TRUE(EsperaAte([&] { return EmDescanso(*r); }));
    Executa("UPDATE GRAVACAO SET GRV_BINDADOS = ? WHERE GRV_CODIGO = ?",
            [&](Statement& s) { s.SetBlob(0, original).SetInt(1, codigo); });
    EXPECT_EQ(reg->Quadros(), 4000u);  // played whole, from its start
    EXPECT_TRUE(ctx_.mensagens.Mostradas().empty());
}

TEST_F(Reprodutor, ConexaoDaUnidadeDerrubada_BaseDeDadosDesconectada) {
    AlsaArquivoTeste alsa(pastaTeste_.Caminho());
    auto r = Player();
    {
        // The server's administrator ends the console's attachment to the unit.
        Attachment adm = programa_->Unidade(1, true);
        Transaction tr(adm);
        Statement st(tr,
                     "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
                     "AND MON$USER = ?");
        st.SetText(0, programa_->inst.Unidade(1).usuario);
        st.Executa();
        tr.Commit();
    }
    marcadas_ = {Linha(1)};
    ctx_.mensagens.ProximaResposta(RespostaMensagem::Ok);
    r->Play();
    ASSERT_TRUE(EsperaAte([&] { return EmDescanso(*r); }));
    const auto& m = ctx_.mensagens.Mostradas();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].caption, CaixaMensagem::Caption(TipoMensagem::Erro));
    EXPECT_EQ(m[0].texto.toStdString(),
              "Erro ao executar arquivo de áudio\nBase de dados desconectada");
    EXPECT_TRUE(Historico20().empty());
    EXPECT_TRUE(alsa.Saida().empty());
}

TEST_F(Reprodutor, JanelaDeGravacoes_TocaAMarcadaEMostraOPlayer) {
    AlsaArquivoTeste alsa(pastaTeste_.Caminho());
    FormGravacoes form(ctx_);
    form.Reproducao = std::make_unique<PlayerGravacoes>(form, ctx_);
    form.show();
    ASSERT_TRUE(form.DefineCentral(1, "Unidade 1"));
    auto [ini, fim] =
        std::minmax_element(gravadas_.begin(), gravadas_.end(),
                            [](const Gravada& a, const Gravada& b) { return a.quando < b.quando; });
    form.dtIni->setDate(QDate(ini->quando.ano, ini->quando.mes, ini->quando.dia));
    form.dtFim->setDate(QDate(fim->quando.ano, fim->quando.mes, fim->quando.dia));
    form.btnPesquisa->click();
    ModeloGravacoes& m = form.Modelo();
    while (m.canFetchMore({})) m.fetchMore({});
    ASSERT_EQ(m.rowCount(), 20);
    EXPECT_FALSE(form.btnPlay->isEnabled());

    // An enciphered Ogg recording, ticked as the user ticks it.
    const Gravada& g = gravadas_[Linha(0x82) - 1];
    const int linha = m.LinhaDoCodigo(g.codigo);
    ASSERT_GE(linha, 0);
    ASSERT_TRUE(
        m.setData(m.index(linha, ModeloGravacoes::ColMarca), Qt::Checked, Qt::CheckStateRole));
    ASSERT_TRUE(form.btnPlay->isEnabled());
    QTest::mouseClick(form.btnPlay, Qt::LeftButton);
    ASSERT_TRUE(EsperaAte([&] { return Historico20().size() == 1 && !form.btnStop->isEnabled(); }));
    EXPECT_TRUE(alsa.Saida() == Esperado(g));
    EXPECT_EQ(Historico20(), std::vector<std::string>{Detalhe(g)});
    EXPECT_EQ(form.btnPlay->text(), QString::fromUtf8("▶"));
    EXPECT_TRUE(form.btnPlay->isEnabled());
    EXPECT_FALSE(form.TrackSound->isEnabled());
    EXPECT_EQ(form.LabelTrackIni->text(), "00:00:00");
    EXPECT_EQ(form.LabelTrackFim->text().toStdString(), SegundosParaHora(g.duracao));
    EXPECT_TRUE(ctx_.mensagens.Mostradas().empty());

    auto* player = dynamic_cast<PlayerGravacoes*>(form.Reproducao.get());
    ASSERT_NE(player, nullptr);
    const fs::path pasta = player->Reprodutor().Pasta().Caminho();
    EXPECT_TRUE(fs::is_empty(pasta));
    form.reject();
    form.Reproducao.reset();
    EXPECT_FALSE(fs::exists(pasta));
}

}  // namespace
