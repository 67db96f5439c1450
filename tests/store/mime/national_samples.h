// Mail written on national systems: the same few texts in each language, as raw bytes of the
// sender's charset and as the characters the sender meant, shared by the import and export tests.
#pragma once

#include <array>
#include <string>

namespace national {

// One language: a subject, a sender name, a recipient name and an attachment name, as the
// sender's program wrote them (raw) and as the sender meant them (text).
struct Sample {
    const char* language;
    const char* charset;    // as a text part declares it
    const char* codepage;   // as a user names it with --codepage
    std::array<const char*, 4> raw;
    std::array<const char*, 4> text;
};

// The raw bytes were made with Python's codecs, not with the converter under test.
inline const Sample kSamples[] = {
    {"Russian windows-1251", "windows-1251", "windows-1251",
     {"\xD1\xF7\xB8\xF2 \xE7\xE0 \xEC\xE0\xF0\xF2", "\xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2", "\xCE\xEB\xFC\xE3\xE0", "\xCE\xF2\xF7\xB8\xF2.doc"},
     {"Счёт за март", "Иван Петров", "Ольга", "Отчёт.doc"}},
    {"Russian KOI8-R", "koi8-r", "KOI8-R",
     {"\xF0\xD2\xC9\xD7\xC5\xD4 \xC9\xDA \xED\xCF\xD3\xCB\xD7\xD9", "\xF0\xA3\xD4\xD2 \xF3\xC9\xC4\xCF\xD2\xCF\xD7", "\xEE\xC1\xD4\xC1\xCC\xD8\xD1", "\xF3\xCD\xC5\xD4\xC1.xls"},
     {"Привет из Москвы", "Пётр Сидоров", "Наталья", "Смета.xls"}},
    {"Ukrainian KOI8-U", "koi8-u", "KOI8-U",
     {"\xBD\xC1\xCE\xCF\xCB \xA6 \xA7\xD6\xC1\xCB", "\xB4\xD7\xC7\xC5\xCE \xBD\xD5\xC4\xDA\xD8", "\xB7\xD2\xD6\xC9\xCE\xC1", "\xFA\xD7\xA6\xD4.doc"},
     {"Ґанок і їжак", "Євген Ґудзь", "Їржина", "Звіт.doc"}},
    {"Japanese Shift_JIS", "shift_jis", "CP932",
     {"\x89\xEF\x8B" "c\x82\xCC\x8B" "c\x8E\x96\x98^", "\x8ER\x93" "c\x91\xBE\x98Y", "\x8D\xB2\x93\xA1\x89\xD4\x8Eq", "\x8B" "c\x8E\x96\x98^.txt"},
     {"会議の議事録", "山田太郎", "佐藤花子", "議事録.txt"}},
    {"Chinese GB2312", "gb2312", "CP936",
     {"\xBB\xE1\xD2\xE9\xCD\xA8\xD6\xAA", "\xD5\xC5\xCE\xB0", "\xC0\xEE\xC4\xC8", "\xB1\xA8\xB8\xE6.doc"},
     {"会议通知", "张伟", "李娜", "报告.doc"}},
    {"Chinese Big5", "big5", "CP950",
     {"\xB7|\xC4\xB3\xB3q\xAA\xBE", "\xB3\xAF\xA4j\xA4\xE5", "\xA7\xF5\xA4p\xC0s", "\xB3\xF8\xA7i.doc"},
     {"會議通知", "陳大文", "李小龍", "報告.doc"}},
    {"Greek windows-1253", "windows-1253", "windows-1253",
     {"\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1 \xF3\xE1\xF2", "\xC3\xE9\xFE\xF1\xE3\xEF\xF2 \xD0\xE1\xF0\xDC\xF2", "\xC5\xEB\xDD\xED\xE7", "\xB8\xE3\xE3\xF1\xE1\xF6\xEF.pdf"},
     {"Καλημέρα σας", "Γιώργος Παπάς", "Ελένη", "Έγγραφο.pdf"}},
    {"Polish windows-1250", "windows-1250", "windows-1250",
     {"Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1", "\xA3ukasz W\xB9s", "\xAF" "aneta", "Sprawozdanie \xF3\xB3.doc"},
     {"Zażółć gęślą jaźń", "Łukasz Wąs", "Żaneta", "Sprawozdanie ół.doc"}},
    {"Czech windows-1250", "windows-1250", "windows-1250",
     {"P\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2", "Ji\xF8\xED Nov\xE1k", "R\xF9\x9E" "ena", "\xDA\xE8" "et.pdf"},
     {"Příliš žluťoučký kůň", "Jiří Novák", "Růžena", "Účet.pdf"}},
    {"Turkish windows-1254", "windows-1254", "windows-1254",
     {"Toplant\xFD g\xFCncellemesi", "\xDE\xFCkr\xFC \xD6zt\xFCrk", "Ay\xFE" "e", "Fatura_\xF0\xFD\xFE.pdf"},
     {"Toplantı güncellemesi", "Şükrü Öztürk", "Ayşe", "Fatura_ğış.pdf"}},

};

// Raw headers, a text part (declaring label when it is not empty) and a named attachment.
inline std::string RawMessage(const Sample& s, const std::string& label, const std::string& attachment_params) {
    const std::string charset = label.empty() ? std::string() : "; charset=" + label;
    return std::string("From: \"") + s.raw[1] + "\" <from@example.com>\r\n" +
           "To: \"" + s.raw[2] + "\" <to@example.com>\r\n" + "Subject: " + s.raw[0] + "\r\n" +
           "Reply-To: \"" + s.raw[1] + "\" <reply@example.com>\r\n" +
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n" +
           "--b1\r\nContent-Type: text/plain" + charset + "\r\n\r\n" + s.raw[0] + "\r\n" +
           "--b1\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; " + attachment_params +
           "\r\nContent-Transfer-Encoding: base64\r\n\r\nAAAA\r\n--b1--\r\n";
}

}  // namespace national
