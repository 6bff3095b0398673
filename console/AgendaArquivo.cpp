#include "console/AgendaArquivo.h"

#include <cctype>

#include "common/Texto.h"
#include "common/Traducao.h"

namespace {

const char* const CabecalhoKandrup =
    "name;surname;nick;birthday;address;email;jobPosition;sector;comments;ringPathFile;priority;"
    "phoneNumbers;company;user;label;";

// A value as it may stand in a field: trimmed, and the characters that would
// end the field or the line written as blanks (plus `outros`).
std::string Campo(std::string_view valor, std::string_view outros = {}) {
    std::string r = Apara(valor);
    for (char& c : r)
        if (c == ';' || c == '\r' || c == '\n' || outros.find(c) != std::string_view::npos) c = ' ';
    return r;
}

bool ComecaSemCaixa(std::string_view texto, std::string_view prefixo) {
    return texto.size() >= prefixo.size() &&
           IgualSemCaixa(texto.substr(0, prefixo.size()), prefixo);
}

bool Comeca(std::string_view texto, std::string_view prefixo) {
    return texto.substr(0, prefixo.size()) == prefixo;
}

// The line's fields: each the text before the next ";", the rest after the
// last ";" one more when not empty. A field beyond the end reads as empty.
class Campos {
  public:
    explicit Campos(std::string_view linha) {
        std::size_t i = 0;
        while (i <= linha.size()) {
            const std::size_t f = linha.find(';', i);
            if (f == std::string_view::npos) {
                if (i < linha.size()) campos_.emplace_back(linha.substr(i));
                break;
            }
            campos_.emplace_back(linha.substr(i, f - i));
            i = f + 1;
        }
    }
    // Field n, counted from 1.
    std::string operator[](std::size_t n) const {
        return n >= 1 && n <= campos_.size() ? campos_[n - 1] : std::string();
    }

  private:
    std::vector<std::string> campos_;
};

// A file line (Windows-1252 bytes) as UTF-8: control bytes become blanks and
// the five unassigned bytes "?", so nothing read can carry a control into a
// column or a later file.
std::string LinhaUtf8(std::string_view bytes) {
    std::string limpo(bytes);
    for (char& c : limpo) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            c = ' ';
        else if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            c = '?';
    }
    return Win1252ParaUtf8(limpo);
}

std::string Corta(std::string_view texto, std::size_t largura) {
    return Apara(CortaUtf8(Apara(texto), largura));
}

// The address's items: split at ",", except inside single or double quotes;
// blanks at an item's start skipped; empty items dropped.
std::vector<std::string> ItensEndereco(std::string_view endereco) {
    std::vector<std::string> itens;
    std::string atual;
    char aspa = 0;
    auto fecha = [&] {
        if (!atual.empty()) itens.push_back(atual);
        atual.clear();
    };
    for (char c : endereco) {
        if (aspa) {
            if (c == aspa) aspa = 0;
        } else if (c == '\'' || c == '"') {
            aspa = c;
        } else if (c == ',') {
            fecha();
            continue;
        }
        if (atual.empty() && c == ' ') continue;
        atual += c;
    }
    fecha();
    return itens;
}

std::string Item(const std::vector<std::string>& itens, std::size_t n) {
    return n < itens.size() ? itens[n] : std::string();
}

int Inteiro(std::string_view texto) {
    const std::string t = Apara(texto);
    if (t.empty() || t.size() > 9) return 0;
    std::size_t i = t[0] == '-' || t[0] == '+' ? 1 : 0;
    if (i == t.size()) return 0;
    for (std::size_t k = i; k < t.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(t[k]))) return 0;
    return std::stoi(t);
}

std::string TipoVostrel(int tipo) {
    if (tipo == 0) return "Celular";
    if (tipo == 2) return "Residência";
    return "Trabalho";
}

class Leitor {
  public:
    Leitor(FormatoAgenda formato, std::string_view ddd) : formato_(formato), ddd_(ddd) {}

    void Linha(int n, const std::string& linha) {
        if (formato_ == FormatoAgenda::Vostrel)
            Vostrel(n, linha);
        else
            Kandrup(n, linha);
    }
    LeituraAgenda r;

  private:
    void Vostrel(int n, const std::string& linha) {
        const Campos f(linha);
        if (ComecaSemCaixa(linha, "PESSOA:")) {
            ContatoLido c;
            c.linha = n;
            RegistroContatoAgenda& reg = c.registro;
            reg.nome = Corta(f[1].substr(std::min<std::size_t>(7, f[1].size())), 40);
            const std::string endereco = f[3];
            if (endereco.find(',') == std::string::npos) {
                reg.endereco = Corta(endereco, 40);
            } else {
                const auto itens = ItensEndereco(endereco);
                reg.endereco = Corta(Item(itens, 0), 40);
                reg.numero = Corta(Item(itens, 1), 10);
                reg.bairro = Corta(Item(itens, 2), 30);
            }
            reg.cep = Corta(f[4], 20);
            const std::string cidade = f[5];
            if (const auto barra = cidade.find('\\'); barra != std::string::npos) {
                reg.cidade = Corta(cidade.substr(0, barra), 30);
                reg.uf = Corta(cidade.substr(barra + 1), 2);
            } else {
                reg.cidade = Corta(cidade, 30);
            }
            reg.email = Corta(f[6], 80);
            // A contact without a name (a blank line) is no contact: its
            // phone lines go with it.
            contatoAberto_ = !reg.nome.empty();
            if (contatoAberto_) r.contatos.push_back(std::move(c));
        } else if (ComecaSemCaixa(linha, "CONTATO:") && contatoAberto_) {
            const std::string area = Corta(f[2], 20);
            std::string numero = Corta(f[3], 20);
            const std::string tipo = f[4];
            FoneAgenda fone;
            fone.tipo = tipo == "Residência" ? 2 : tipo == "Celular" ? 0 : 1;
            if (!area.empty()) numero = CortaUtf8(area + numero, 20);
            if (Inteiro(f[6]) == 1) numero = CortaUtf8("00" + numero, 20);
            fone.numero = Apara(numero);
            if (!fone.numero.empty()) r.contatos.back().fones.push_back(std::move(fone));
        }
    }

    void Kandrup(int n, const std::string& linha) {
        if (ComecaSemCaixa(linha, "NAME;")) return;
        const Campos f(linha);
        ContatoLido c;
        c.linha = n;
        RegistroContatoAgenda& reg = c.registro;
        reg.nome = Corta(f[1], 40);
        if (reg.nome.empty()) return;
        const std::string endereco = f[5];
        if (endereco.find(',') == std::string::npos) {
            reg.endereco = Corta(endereco, 40);
            c.cepLido = false;
        } else {
            const auto itens = ItensEndereco(endereco);
            reg.endereco = Corta(Item(itens, 0), 40);
            reg.numero = Corta(Item(itens, 1), 10);
            reg.bairro = Corta(Item(itens, 2), 30);
            reg.cidade = Corta(Item(itens, 3), 30);
            reg.uf = Corta(Item(itens, 4), 2);
            const auto cep = endereco.find("CEP ");
            c.cepLido = cep != std::string::npos;
            if (c.cepLido) reg.cep = Corta(CortaUtf8(endereco.substr(cep + 4), 10), 20);
        }
        reg.email = Corta(f[6], 80);
        const std::string lista = f[12];
        std::size_t i = 0;
        while (i <= lista.size()) {
            std::size_t fim = lista.find(',', i);
            if (fim == std::string::npos) fim = lista.size();
            const std::string item = lista.substr(i, fim - i);
            i = fim + 1;
            if (item.empty()) continue;
            std::string numero = Corta(item.substr(0, item.find(':')), 20);
            numero = Corta(LimpaNumeroFone(numero), 20);
            FoneAgenda fone;
            fone.tipo = 1;
            const std::size_t tamanho = ContaCaracteresUtf8(numero);
            if (tamanho >= 7 && tamanho <= 9) {
                numero = CortaUtf8(ddd_ + numero, 20);
                if (numero.size() >= 3 && (numero[2] == '7' || numero[2] == '9')) fone.tipo = 0;
            }
            fone.numero = Apara(numero);
            if (!fone.numero.empty()) c.fones.push_back(std::move(fone));
        }
        r.contatos.push_back(std::move(c));
    }

    FormatoAgenda formato_;
    std::string ddd_;
    bool contatoAberto_ = false;
};

}  // namespace

bool CNPJValido(std::string_view texto) {
    std::string d;
    for (char c : texto)
        if (c >= '0' && c <= '9') d += c;
    if (d.size() != 14 || d.find_first_not_of(d[0]) == std::string::npos) return false;
    auto digito = [&](std::size_t n) {
        int soma = 0, peso = 2;
        for (std::size_t i = n; i-- > 0;) {
            soma += (d[i] - '0') * peso;
            peso = peso == 9 ? 2 : peso + 1;
        }
        const int resto = soma % 11;
        return resto < 2 ? 0 : 11 - resto;
    };
    return digito(12) == d[12] - '0' && digito(13) == d[13] - '0';
}

std::string TextoSemAcento(std::string_view texto) {
    std::string bytes = Utf8ParaWin1252(texto);
    for (char& c : bytes) {
        c = RemoveAcento(c);
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return Win1252ParaUtf8(bytes);
}

std::string LimpaNumeroFone(std::string_view texto) {
    if (Comeca(texto, "E")) texto.remove_prefix(1);
    if (Comeca(texto, "R")) texto.remove_prefix(1);
    return std::string(texto.substr(0, texto.find('@')));
}

std::string CabecalhoAgenda(FormatoAgenda formato) {
    return formato == FormatoAgenda::Kandrup ? std::string(CabecalhoKandrup) + "\r\n"
                                             : std::string();
}

std::string LinhasAgenda(FormatoAgenda formato, const ClienteAgenda& c, std::string_view ddd) {
    std::string t;
    auto campo = [&t](std::string_view valor) {
        t += valor;
        t += ';';
    };
    const bool juridica = CNPJValido(c.identificador);
    if (formato == FormatoAgenda::Vostrel) {
        campo("PESSOA:" + Campo(c.descricao));
        campo(juridica ? "JURIDICA" : "FISICA");
        std::string endereco = Campo(c.endereco);
        for (const std::string* v : {&c.endernum, &c.bairro})
            if (!Campo(*v).empty()) endereco += "," + Campo(*v);
        campo(endereco);
        campo(Campo(c.cep));
        std::string cidade = TextoSemAcento(Campo(c.cidade));
        if (!Campo(c.uf).empty()) cidade += "\\" + Campo(c.uf);
        campo(cidade);
        campo(Campo(c.email));
        campo("");
        campo("");
        campo("0");
        t += "\r\n";
        for (const FoneAgenda& f : c.fones) {
            const std::string numero = Campo(f.numero);
            campo("CONTATO:" + Campo(c.contato));
            const bool internacional = Comeca(numero, "00");
            const bool interurbano = !internacional && Comeca(numero, "0");
            campo(interurbano ? numero.substr(1, 2) : std::string());
            campo(internacional ? numero.substr(2)
                  : interurbano ? numero.substr(std::min<std::size_t>(3, numero.size()))
                                : numero);
            campo(TipoVostrel(f.tipo));
            campo("");
            campo(internacional ? "1" : "0");
            t += "\r\n";
        }
    } else {
        campo(Campo(c.descricao));
        campo("");
        campo("");
        campo("");
        std::string endereco = Campo(c.endereco);
        for (const std::string* v : {&c.endernum, &c.bairro, &c.cidade, &c.uf, &c.cep})
            if (!Campo(*v).empty()) endereco += "," + Campo(*v);
        campo(endereco);
        campo(Campo(c.email));
        for (int i = 0; i < 4; ++i) campo("");
        campo("0");
        std::string lista;
        const std::string pessoa = Campo(c.contato, ",:");
        for (const FoneAgenda& f : c.fones) {
            std::string numero = Campo(f.numero, ",:");
            const std::size_t n = ContaCaracteresUtf8(numero);
            if (!ddd.empty() && (n == 10 || n == 11) && Comeca(numero, ddd))
                numero.erase(0, ddd.size());
            lista += numero + ":" + pessoa + ",";
        }
        campo(lista);
        campo(juridica ? Campo(c.descricao) : std::string());
        campo("");
        campo("");
        t += "\r\n";
    }
    return Utf8ParaWin1252(t);
}

LeituraAgenda LeAgenda(std::string_view bytes, FormatoAgenda formato, std::string_view ddd) {
    Leitor leitor(formato, ddd);
    int n = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t fim = bytes.find_first_of("\r\n", i);
        if (fim == std::string_view::npos) fim = bytes.size();
        const std::string_view bruta = bytes.substr(i, fim - i);
        i = fim;
        if (i < bytes.size())
            i += bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1;
        ++n;
        if (bruta.size() > TamanhoMaximoLinhaAgenda) {
            leitor.r.contatos.clear();
            leitor.r.linhaErro = n;
            leitor.r.erro = Traduz("Linha muito longa");
            return std::move(leitor.r);
        }
        const std::string linha = LinhaUtf8(bruta);
        if (n == 1) {
            const bool kandrup = formato == FormatoAgenda::Kandrup;
            if (!ComecaSemCaixa(linha, kandrup ? "NAME;" : "PESSOA:")) {
                leitor.r.erro = Traduz(
                    kandrup ? "Arquivo não está no formato CSV exportado pela Kandrup Norvika"
                            : "Arquivo não está no formato CSV exportado pelo Vostrel");
                return std::move(leitor.r);
            }
        }
        leitor.Linha(n, linha);
    }
    return std::move(leitor.r);
}
