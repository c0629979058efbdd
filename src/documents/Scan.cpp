#include "documents/Scan.h"

namespace pc {

namespace {

constexpr char kGS = '\x1d';

bool allDigits(QByteArrayView s)
{
    if (s.isEmpty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

Scan failed(const QString &reason)
{
    Scan s;
    s.ok = false;
    s.reason = reason;
    return s;
}

QString shown(QByteArrayView s)
{
    QString out;
    for (char c : s)
        out += (c == kGS) ? QStringLiteral("<GS>") : (uchar(c) < 0x20 || uchar(c) >= 0x7f) ? QStringLiteral("?") : QString(QLatin1Char(c));
    return out;
}

void setGtin(Scan &s, const QByteArray &gtin14)
{
    s.gtin = QString::fromLatin1(gtin14);
    if (gtin14.startsWith('0'))
        s.ean13 = s.gtin.mid(1);
}

// How many digits the application identifier starting the text has (0: none known).
int aiDigits(QByteArrayView s)
{
    if (s.size() < 2 || !allDigits(s.first(2)))
        return 0;
    const int p = (s[0] - '0') * 10 + (s[1] - '0');
    switch (p) {
    case 0: case 1: case 2: case 3: case 4:
    case 10: case 11: case 12: case 13: case 15: case 16: case 17:
    case 20: case 21: case 22: case 30: case 37:
    case 90: case 91: case 92: case 93: case 94: case 95: case 96: case 97: case 98: case 99:
        return 2;
    case 23: case 24: case 25: case 40: case 41: case 42: case 71:
        return 3;
    case 31: case 32: case 33: case 34: case 35: case 36: case 39:
    case 43: case 70: case 72: case 80: case 81: case 82:
        return 4;
    default:
        return 0;
    }
}

// The fixed data length of an AI, or -1 when its data is variable (ended by
// FNC1 or the end of the text).
int fixedLength(QByteArrayView ai)
{
    const int p = (ai[0] - '0') * 10 + (ai[1] - '0');
    switch (p) {
    case 0: return 18;                     // SSCC
    case 1: case 2: case 3: return 14;     // GTIN
    case 4: return 16;
    case 11: case 12: case 13: case 15: case 16: case 17: return 6; // dates
    case 20: return 2;                     // variant
    case 31: case 32: case 33: case 34: case 35: case 36: return 6; // measures
    case 41: return 13;                    // GLN (410-417)
    default: break;
    }
    const QByteArrayView a = ai;
    if (a == "7003") return 10;            // expiry date and time
    if (a == "7006") return 6;             // first freeze date
    if (a == "8001") return 14;
    if (a == "8005") return 6;
    if (a == "8006") return 18;
    if (a == "8017" || a == "8018") return 18;
    if (a == "8026") return 18;
    return -1;
}

int daysIn(int year, int month) { return QDate(year, month, 1).daysInMonth(); }

// YYMMDD; day 00 is the month's last day. Invalid: a null date.
QDate gs1Date(QByteArrayView d, int referenceYear)
{
    if (d.size() != 6 || !allDigits(d))
        return {};
    const int yy = (d[0] - '0') * 10 + (d[1] - '0');
    const int mm = (d[2] - '0') * 10 + (d[3] - '0');
    const int dd = (d[4] - '0') * 10 + (d[5] - '0');
    const int century = referenceYear / 100 * 100;
    const int diff = yy - referenceYear % 100;
    int year = century + yy;
    if (diff >= 51)
        year -= 100;
    else if (diff <= -50)
        year += 100;
    if (mm < 1 || mm > 12)
        return {};
    const int last = daysIn(year, mm);
    if (dd == 0)
        return QDate(year, mm, last);
    if (dd > last)
        return {};
    return QDate(year, mm, dd);
}

// The text of a scanned linear code: 8, 12, 13 or 14 digits.
Scan parseLinear(const QByteArray &digits)
{
    const int check = Gs1CheckDigit(QByteArrayView(digits).chopped(1));
    if (check != digits.back() - '0')
        return failed(QStringLiteral("Неверная контрольная цифра штрихкода %1").arg(QString::fromLatin1(digits)));
    Scan s;
    s.ok = true;
    s.linear = true;
    setGtin(s, digits.rightJustified(14, '0'));
    return s;
}

// "(01)04607...(17)270500(10)AB1": the human-readable form, as a person
// might type it, turned into the element string with GS between fields.
QByteArray fromBracketed(const QByteArray &text, bool &ok)
{
    QByteArray out;
    ok = true;
    int i = 0;
    while (i < text.size()) {
        if (text[i] != '(') {
            ok = false;
            return {};
        }
        const int close = text.indexOf(')', i);
        if (close < 0) {
            ok = false;
            return {};
        }
        const QByteArray ai = text.mid(i + 1, close - i - 1);
        int next = text.indexOf('(', close);
        if (next < 0)
            next = text.size();
        out += ai + text.mid(close + 1, next - close - 1);
        if (ai.size() < 2 || !allDigits(ai)) {
            ok = false;
            return {};
        }
        if (next < text.size() && fixedLength(ai) < 0)
            out += kGS;
        i = next;
    }
    return out;
}

} // namespace

int Gs1CheckDigit(QByteArrayView digits)
{
    if (!allDigits(digits))
        return -1;
    int sum = 0;
    bool three = true; // the rightmost digit before the check digit weighs 3
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        sum += (digits[i] - '0') * (three ? 3 : 1);
        three = !three;
    }
    return (10 - sum % 10) % 10;
}

Scan ParseScan(const QByteArray &raw) { return ParseScan(raw, ScanOptions()); }

Scan ParseScan(const QByteArray &raw, const ScanOptions &options)
{
    QByteArray text = raw;
    // The scanner's Enter or Tab at the end, blanks a person may have left.
    while (!text.isEmpty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '\t' || text.back() == ' '))
        text.chop(1);
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\r' || text.front() == '\n'))
        text.remove(0, 1);
    if (text.isEmpty())
        return failed(QStringLiteral("Пустой код"));
    if (options.fnc1StandIn && options.fnc1StandIn != kGS)
        text.replace(options.fnc1StandIn, QByteArray(1, kGS));

    // The symbology identifier some scanners put first.
    bool gs1 = false;
    if (text.size() >= 3 && text[0] == ']') {
        const QByteArray id = text.mid(1, 2);
        if (id == "d2" || id == "C1" || id == "Q3" || id == "e0" || id == "J1") {
            gs1 = true;
        } else if (id != "E0" && id != "E4" && id != "E3" && id != "I1" && id != "A0" && id != "d1" && id != "Q1") {
            return failed(QStringLiteral("Код не распознан: %1").arg(shown(text)));
        }
        text.remove(0, 3);
    }
    // A leading FNC1 marks a GS1 code.
    while (!text.isEmpty() && text.front() == kGS) {
        gs1 = true;
        text.remove(0, 1);
    }
    if (text.isEmpty())
        return failed(QStringLiteral("Пустой код"));
    if (text.front() == '(') {
        bool ok = false;
        text = fromBracketed(text, ok);
        if (!ok)
            return failed(QStringLiteral("Код не распознан: %1").arg(shown(raw.trimmed())));
        gs1 = true;
    }

    if (!gs1 && allDigits(text) && (text.size() == 8 || text.size() == 12 || text.size() == 13 || text.size() == 14))
        return parseLinear(text);
    if (!gs1 && allDigits(text) && text.size() < 16)
        return failed(QStringLiteral("Код не распознан: %1 (%2 цифр)").arg(QString::fromLatin1(text)).arg(text.size()));

    const int reference = options.referenceYear > 0 ? options.referenceYear : QDate::currentDate().year();
    Scan s;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] == kGS) { // an FNC1 after a fixed-length field
            ++i;
            continue;
        }
        const QByteArrayView rest = QByteArrayView(text).sliced(i);
        const int n = aiDigits(rest);
        if (n == 0 || rest.size() < n || !allDigits(rest.first(n)))
            return failed(QStringLiteral("Код не распознан: неизвестный идентификатор «%1» в коде %2")
                              .arg(shown(rest.first(std::min<qsizetype>(4, rest.size()))), shown(text)));
        const QByteArray ai = rest.first(n).toByteArray();
        i += n;
        QByteArray value;
        const int fixed = fixedLength(ai);
        if (fixed >= 0) {
            value = text.mid(i, fixed);
            if (value.size() < fixed || value.contains(kGS))
                return failed(QStringLiteral("Код обрывается в поле (%1): «%2»").arg(QString::fromLatin1(ai), shown(value)));
            i += fixed;
        } else {
            qsizetype end = text.indexOf(kGS, i);
            if (end < 0)
                end = text.size();
            value = text.mid(i, end - i);
            i = end;
            if (value.isEmpty())
                return failed(QStringLiteral("Пустое поле (%1) в коде").arg(QString::fromLatin1(ai)));
        }
        if (ai == "01") {
            if (!allDigits(value))
                return failed(QStringLiteral("Код товара (01) не из цифр: «%1»").arg(shown(value)));
            if (Gs1CheckDigit(QByteArrayView(value).chopped(1)) != value.back() - '0')
                return failed(QStringLiteral("Неверная контрольная цифра кода товара (01) %1").arg(QString::fromLatin1(value)));
            setGtin(s, value);
        } else if (ai == "17" || ai == "11") {
            const QDate d = gs1Date(value, reference);
            if (!d.isValid())
                return failed(QStringLiteral("Неверная дата в поле (%1): «%2»").arg(QString::fromLatin1(ai), shown(value)));
            (ai == "17" ? s.expiry : s.produced) = d;
        } else if (ai == "10" || ai == "21") {
            if (value.size() > 20)
                return failed(QStringLiteral("Поле (%1) длиннее 20 знаков: «%2» (нет разделителя?)")
                                  .arg(QString::fromLatin1(ai), shown(value)));
            (ai == "10" ? s.batch : s.serial) = QString::fromLatin1(value);
        } else if (ai == "91") {
            s.crypto91 = QString::fromLatin1(value);
        } else if (ai == "92") {
            s.crypto92 = QString::fromLatin1(value);
        } else if (ai == "93") {
            s.crypto93 = QString::fromLatin1(value);
        }
    }
    if (s.gtin.isEmpty())
        return failed(QStringLiteral("В коде нет кода товара (01): %1").arg(shown(text)));
    s.ok = true;
    return s;
}

} // namespace pc
