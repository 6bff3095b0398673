#include "service/download/LeituraXML.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <pugixml.hpp>
#include <stdexcept>

#include "common/ArquivoSaida.h"
#include "common/Texto.h"
#include "service/download/NomesGravacao.h"

namespace fs = std::filesystem;

namespace {

// The encoding named in the declaration, lower case; "" when none.
std::string CodificacaoDeclarada(std::string_view s) {
    if (!s.starts_with("<?xml")) return "";
    const auto fim = s.find("?>");
    const std::string_view decl = s.substr(0, fim);
    auto p = decl.find("encoding");
    if (p == std::string_view::npos) return "";
    p = decl.find_first_of("\"'", p);
    if (p == std::string_view::npos) return "";
    const auto q = decl.find(decl[p], p + 1);
    if (q == std::string_view::npos) return "";
    return Minusculas(decl.substr(p + 1, q - p - 1));
}

// An element's text as a DOM's text property gives it: every text and CDATA
// piece below it, in document order.
std::string TextoElemento(const pugi::xml_node& no) {
    std::string r;
    for (pugi::xml_node n = no.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata)
            r += n.value();
        else if (n.type() == pugi::node_element)
            r += TextoElemento(n);
    }
    return r;
}

std::string Requerido(const pugi::xml_node& raiz, const char* nome) {
    const pugi::xml_node no = raiz.child(nome);
    if (!no) throw std::runtime_error(std::string("Elemento ausente: ") + nome);
    return TextoElemento(no);
}

std::int32_t InteiroOuZero(std::string_view texto) {
    texto = AparaBrancos(texto);
    if (!texto.empty() && texto.front() == '+') texto.remove_prefix(1);
    long long v = 0;
    const auto [fim, ec] = std::from_chars(texto.data(), texto.data() + texto.size(), v);
    if (texto.empty() || ec != std::errc() || fim != texto.data() + texto.size()) return 0;
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(v);
}

}  // namespace

std::string TextoXMLParaUtf8(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    const std::string cod = CodificacaoDeclarada(bytes);
    if (cod == "iso-8859-1" || cod == "iso8859-1" || cod == "latin1" || cod == "latin-1" ||
        cod == "l1")
        return Latin1ParaUtf8(bytes);
    if (cod == "windows-1252" || cod == "cp1252") return Win1252ParaUtf8(bytes);
    if (Utf8Valido(bytes)) return std::string(bytes);
    return Latin1ParaUtf8(bytes);
}

DadosGravacao DadosIniciais(const fs::path& xml) {
    DadosGravacao d;
    const std::string cauda =
        xml.parent_path().filename().string() + "\\" + xml.filename().string();
    std::string ramal = cauda.size() > 1 ? cauda.substr(1, 7) : "";
    if (!ramal.empty() && ramal.front() == 'R') ramal.erase(0, 1);
    d.RamalGravado = CortaUtf8(Latin1ParaUtf8(Utf8ParaLatin1(ramal)), 10);
    return d;
}

ResultadoXML LeDescricaoGravacao(std::string_view bytes, DadosGravacao& d) {
    ResultadoXML r;
    r.estado = EstadoXML::Ilegivel;
    try {
        if (bytes.size() > TamanhoMaximoXML) throw std::runtime_error("Arquivo XML muito grande");
        r.temElementoAudio = bytes.find("<audio>") != std::string_view::npos;
        const std::string texto = TextoXMLParaUtf8(bytes);
        pugi::xml_document doc;
        const pugi::xml_parse_result ok =
            doc.load_buffer(texto.data(), texto.size(), pugi::parse_default, pugi::encoding_utf8);
        if (!ok)
            throw std::runtime_error(std::string(ok.description()) + " (posição " +
                                     std::to_string(ok.offset) + ")");
        const pugi::xml_node raiz = doc.document_element();
        if (!raiz) throw std::runtime_error("Documento sem elemento");
        d.Comanda = CortaUtf8(Requerido(raiz, "ramalcomanda"), 10);
        d.RamalGravado = CortaUtf8(Requerido(raiz, "ramalgravado"), 10);
        {
            const std::string destino = Requerido(raiz, "nomedestino");
            std::string digitos;
            for (char c : AparaBrancos(destino))
                if (c >= '0' && c <= '9' && digitos.size() < 20) digitos += c;
            d.NumeroDestino = digitos;
        }
        d.CodConta = CortaUtf8(Requerido(raiz, "codconta"), 5);
        {
            const std::string tipo = Maiusculas(Requerido(raiz, "tipoligacao"));
            d.TipoLigacao = tipo == "INTERNA" ? 0 : tipo == "ENTRADA" ? 2 : 1;
        }
        d.Inicio = InteiroOuZero(Requerido(raiz, "iniciogravacao"));
        // The units write "sim"; a hand-made or converted description may
        // differ in case or carry blanks around it.
        if (r.temElementoAudio)
            d.TemAudio = Minusculas(AparaBrancos(Requerido(raiz, "audio"))) == "sim" ? 1 : 0;
        r.estado = EstadoXML::Lido;
    } catch (const std::exception& e) {
        r.erro = e.what();
    }
    return r;
}

ResultadoXML LeDescricaoGravacao(const fs::path& xml, DadosGravacao& d) {
    d = DadosIniciais(xml);
    std::error_code ec;
    if (!fs::is_regular_file(xml, ec)) return {EstadoXML::Inexistente, false, ""};
    std::string bytes;
    try {
        ArquivoEntrada f(xml);
        if (f.Tamanho() > TamanhoMaximoXML) {
            ResultadoXML r{EstadoXML::Ilegivel, false, "Arquivo XML muito grande"};
            return r;
        }
        bytes.resize(static_cast<std::size_t>(f.Tamanho()));
        f.LeTudo(bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        return {EstadoXML::Ilegivel, false, e.what()};
    }
    return LeDescricaoGravacao(std::string_view(bytes), d);
}

fs::path DescricaoDaGravacao(const fs::path& wav) {
    fs::path exata = wav;
    exata.replace_extension(".XML");
    std::error_code ec;
    if (fs::exists(exata, ec)) return exata;
    // Another case of the same name: the one that sorts first, so that every
    // filing of this recording reads the same file.
    const std::string procurado = BaseMaiuscula(wav.filename().string()) + ".XML";
    std::string achado;
    for (fs::directory_iterator it(wav.parent_path(), ec), fim; !ec && it != fim;
         it.increment(ec)) {
        const std::string nome = it->path().filename().string();
        if (Maiusculas(nome) == procurado && (achado.empty() || nome < achado)) achado = nome;
    }
    return achado.empty() ? exata : wav.parent_path() / achado;
}

std::uint64_t TamanhoArquivo(const fs::path& arquivo) {
    std::error_code ec;
    const auto n = fs::file_size(arquivo, ec);
    return ec ? 0 : n;
}

bool ArquivoContemTexto(const fs::path& arquivo, std::string_view texto) {
    try {
        ArquivoEntrada f(arquivo);
        std::string bytes(
            static_cast<std::size_t>(std::min<std::uint64_t>(f.Tamanho(), TamanhoMaximoXML)), '\0');
        f.LeTudo(bytes.data(), bytes.size());
        return bytes.find(texto) != std::string::npos;
    } catch (const std::exception&) {
        return false;
    }
}
