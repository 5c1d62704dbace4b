#include "CliDecode.h"

#include "link/ImageArchive.h"

#include "table/ObservationTable.h"
#include "table/TableError.h"

#include <charconv>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace ulen3 {

char user_decimal_separator() {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "");
    const char sep = *std::localeconv()->decimal_point;
    std::setlocale(LC_NUMERIC, previous.c_str());
    return sep ? sep : '.';
}

unsigned long number_option(const std::string& option, const std::string& text, unsigned long least,
                            unsigned long most) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value < least || value > most)
        throw std::runtime_error(option + ": «" + text + "» — не число от " + std::to_string(least) + " до " +
                                 std::to_string(most));
    return value;
}

namespace {

int usage() {
    std::cerr << "Использование: ulen3-cli decode ОБРАЗ.bin ТАБЛИЦА.db [--append] "
                 "[--dev-code КОД --serial НОМЕР]\n";
    return 2;
}

} // namespace

int decode_into_table(const std::string& tablePath, const DownloadedImage& image, bool append) {
    // An image the decoder refuses creates and changes nothing.
    check_image(image);
    ObservationTable table;
    if (!append) {
        if (::access(tablePath.c_str(), F_OK) == 0) {
            std::cerr << "ulen3-cli: файл " << tablePath
                      << " уже существует и не изменён; чтобы дополнить его, укажите --append\n";
            return 1;
        }
        table.CreateEmpty(tablePath);
    }
    try {
        table.Open(tablePath);
        const DecodeResult added = flash2ulen3(table, image, append, user_decimal_separator());
        if (append)
            for (unsigned n : added.added)
                std::printf("%s: %s\n", kAppendCaption, added_text(n).c_str());
    } catch (const DecodeError&) {
        // The decoder refuses before it writes: a table made for this image goes again.
        table.Close();
        if (!append)
            std::remove(tablePath.c_str());
        throw;
    }
    table.SetFilter("");
    table.Refresh();
    std::printf("Записей в таблице %s: %d\n", tablePath.c_str(), table.VisibleCount());
    table.Close();
    return 0;
}

int cli_decode(const std::vector<std::string>& args) {
    if (args.size() < 3)
        return usage();
    DownloadedImage image;
    image.dev_code = 0x21;
    image.dev_serial = 0;
    // An image the program kept names its instrument; the options still win.
    identification_from_name(QString::fromStdString(args[1]), image.dev_code, image.dev_serial);
    bool append = false;
    for (std::size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--append")
            append = true;
        else if (args[i] == "--dev-code" && i + 1 < args.size())
            image.dev_code = static_cast<std::uint8_t>(number_option("--dev-code", args[++i], 0, 0xFF));
        else if (args[i] == "--serial" && i + 1 < args.size())
            image.dev_serial = static_cast<std::uint16_t>(number_option("--serial", args[++i], 0, 0xFFFF));
        else
            return usage();
    }
    std::ifstream in(args[1], std::ios::binary);
    if (!in) {
        std::cerr << "ulen3-cli: не удалось открыть образ памяти " << args[1] << "\n";
        return 1;
    }
    // The image buffer is the instrument's memory size; a longer file is refused, not cut.
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() > 65536) {
        std::cerr << "ulen3-cli: файл " << args[1] << " длиннее памяти прибора (65536 байт)\n";
        return 1;
    }
    image.bytes = bytes.data();
    image.size = bytes.size();
    return decode_into_table(args[2], image, append);
}

} // namespace ulen3
