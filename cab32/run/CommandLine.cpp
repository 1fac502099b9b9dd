#include "cab32/run/CommandLine.h"

#include "cab32/format/CabFormat.h"

namespace cab32 {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// True for the names Windows keeps for devices (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9), which stay devices with any extension and trailing blanks.
bool IsDeviceName(std::string_view part)
{
    std::string_view base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    std::string upper;
    for (char c : base)
        upper.push_back(Upper(c));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL")
        return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

// Checks one component of a stored name (double-byte characters never end in a dot or a blank).
CabError CheckComponent(std::string_view part, const std::string& name)
{
    if (part.empty())
        return MakeError(CAB_E_EMPTY_NAME, name);
    if (part == "." || part == "..")
        return MakeError(CAB_E_PARENT_PATH, name);
    if (part.back() == '.' || part.back() == ' ')
        return MakeError(CAB_E_TRAILING_DOT, name);
    if (IsDeviceName(part))
        return MakeError(CAB_E_DEVICE_NAME, name);
    return CabError();
}

// -v<bytes>: digits only, within the sizes a cabinet of a set may have.
bool ParseSizeSwitch(const std::string& text, uint64_t& limit)
{
    limit = 0;
    for (size_t i = 2; i < text.size() && limit <= kMaxCabinetBytes; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        limit = limit * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return limit >= kMinCabinetLimit && limit <= kMaxCabinetBytes;
}

// -mszip, -mlzx (a window fitted to each folder) or -mlzx15 .. -mlzx21.
bool ParseMethodSwitch(const std::string& text, CommandLine& out)
{
    std::string upper;
    for (size_t i = 2; i < text.size(); ++i)
        upper.push_back(Upper(text[i]));
    if (upper == "SZIP") {
        out.method = Method::Mszip;
        out.lzxWindowBits = 0;
        return true;
    }
    if (upper.compare(0, 3, "LZX") != 0)
        return false;
    const std::string bits = upper.substr(3);
    int window = 0;
    if (!bits.empty()) {
        if (bits.size() != 2 || bits[0] < '0' || bits[0] > '9' || bits[1] < '0' || bits[1] > '9')
            return false;
        window = (bits[0] - '0') * 10 + (bits[1] - '0');
        if (window < 15 || window > 21)
            return false;
    }
    out.method = Method::Lzx;
    out.lzxWindowBits = window;
    return true;
}

} // namespace

CabError Tokenize(std::string_view line, std::vector<Token>& tokens)
{
    tokens.clear();
    size_t i = 0;
    while (i < line.size()) {
        if (IsBlank(line[i])) {
            ++i;
            continue;
        }
        Token t;
        t.quoted = line[i] == '"';
        while (i < line.size() && !IsBlank(line[i])) {
            if (line[i] == '"') {
                size_t close = line.find('"', i + 1);
                if (close == std::string_view::npos)
                    return MakeError(CAB_E_UNTERMINATED_QUOTE, std::string(line.substr(i)));
                t.text.append(line.substr(i + 1, close - i - 1));
                i = close + 1;
            } else {
                t.text.push_back(line[i++]);
            }
        }
        tokens.push_back(std::move(t));
    }
    return CabError();
}

CabError ParseCommandLine(std::string_view line, CommandLine& out, LeadByteTest lead)
{
    out = CommandLine();
    std::vector<Token> tokens;
    if (CabError e = Tokenize(line, tokens))
        return e;
    bool command = false;
    std::vector<const Token*> args;
    for (const Token& t : tokens) {
        if (!t.quoted && !t.text.empty() && (t.text[0] == '-' || t.text[0] == '/')) {
            const char letter = t.text.size() > 1 ? t.text[1] : '\0';
            if ((letter == 'v' || letter == 'V') && t.text.size() > 2) {
                if (!ParseSizeSwitch(t.text, out.cabinetLimit))
                    return MakeError(CAB_E_UNKNOWN_SWITCH, t.text);
                continue;
            }
            if (letter == 'm' || letter == 'M') {
                if (!ParseMethodSwitch(t.text, out))
                    return MakeError(CAB_E_UNKNOWN_SWITCH, t.text);
                continue;
            }
            if (t.text != "-a" && t.text != "-A" && t.text != "/a" && t.text != "/A")
                return MakeError(CAB_E_UNKNOWN_SWITCH, t.text);
            command = true;
        } else {
            args.push_back(&t);
        }
    }
    if (!command)
        return MakeError(CAB_E_NO_COMMAND);
    if (args.empty() || args[0]->text.empty())
        return MakeError(CAB_E_NO_CABINET_NAME);
    if (args.size() < 2 || args[1]->text.empty())
        return MakeError(CAB_E_NO_BASE_FOLDER);
    out.cabinet = args[0]->text;
    out.baseFolder = args[1]->text;
    if (!EndsWithBackslash(out.baseFolder, lead))
        out.baseFolder.push_back('\\');
    for (size_t i = 2; i < args.size(); ++i)
        out.inputs.push_back(args[i]->text);
    return CabError();
}

CabError ParseResponseLine(std::string_view line, std::string& name, bool& blank)
{
    name.clear();
    blank = false;
    if (line.find('\0') != std::string_view::npos)
        return MakeError(CAB_E_RESPONSE_SYNTAX);
    size_t first = 0;
    while (first < line.size() && IsBlank(line[first]))
        ++first;
    size_t end = line.size();
    while (end > first && IsBlank(line[end - 1]))
        --end;
    if (first == end) {
        blank = true;
        return CabError();
    }
    std::string_view text = line.substr(first, end - first);
    if (text[0] != '"') {
        if (text.find('"') != std::string_view::npos)
            return MakeError(CAB_E_RESPONSE_SYNTAX, std::string(text));
        name.assign(text);
        return CabError();
    }
    size_t close = text.find('"', 1);
    if (close == std::string_view::npos || close + 1 != text.size())
        return MakeError(CAB_E_RESPONSE_SYNTAX, std::string(text));
    name.assign(text.substr(1, close - 1));
    return CabError();
}

CabError ValidateName(std::string& name, LeadByteTest lead)
{
    if (name.empty())
        return MakeError(CAB_E_EMPTY_NAME, name);
    if (IsAbsolutePath(name))
        return MakeError(CAB_E_ABSOLUTE_PATH, name);
    size_t componentStart = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        unsigned char c = i < name.size() ? static_cast<unsigned char>(name[i]) : 0;
        if (i < name.size() && lead(c)) {
            if (i + 1 >= name.size() || static_cast<unsigned char>(name[i + 1]) < 0x40)
                return MakeError(CAB_E_BAD_NAME, name);
            ++i;
            continue;
        }
        if (c == '/')
            name[i] = '\\', c = '\\';
        if (i == name.size() || c == '\\') {
            if (CabError e = CheckComponent(std::string_view(name.data() + componentStart, i - componentStart), name))
                return e;
            componentStart = i + 1;
            continue;
        }
        if (c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*')
            return MakeError(CAB_E_BAD_NAME, name);
    }
    if (name.size() > kMaxNameBytes)
        return MakeError(CAB_E_NAME_TOO_LONG, name);
    return CabError();
}

} // namespace cab32
