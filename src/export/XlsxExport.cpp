#include "export/XlsxExport.h"

#include "export/PageExport.h"
#include "export/SheetColumns.h"
#include "export/SheetExport.h"
#include "export/vteExcelTypes.h"
#include "table/ObservationTable.h"

#include <minizip/zip.h>
#include <xlsxwriter.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <locale.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

// The library compresses each part of the workbook at zlib's default level, which spends most of
// an export of a large page in deflate. The program puts its own entry point of the zip library
// ahead of the library's (the program's symbols are found first) and opens each part at level 1:
// about 40 % less time for a file about a third larger, which every reader opens the same.
extern "C" int zipOpenNewFileInZip4_64(zipFile file, const char* filename, const zip_fileinfo* zipfi,
                                       const void* extrafield_local, uInt size_extrafield_local,
                                       const void* extrafield_global, uInt size_extrafield_global, const char* comment,
                                       int method, int level, int raw, int windowBits, int memLevel, int strategy,
                                       const char* password, uLong crcForCrypting, uLong versionMadeBy, uLong flagBase,
                                       int zip64) {
    using Open = int (*)(zipFile, const char*, const zip_fileinfo*, const void*, uInt, const void*, uInt, const char*,
                         int, int, int, int, int, int, const char*, uLong, uLong, uLong, int);
    static const auto next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "zipOpenNewFileInZip4_64"));
    if (!next)
        return ZIP_INTERNALERROR;
    const int fastest = level == 0 ? 0 : 1; // a stored part stays stored
    return next(file, filename, zipfi, extrafield_local, size_extrafield_local, extrafield_global,
                size_extrafield_global, comment, method, fastest, raw, windowBits, memLevel, strategy, password,
                crcForCrypting, versionMadeBy, flagBase, zip64);
}

namespace ulen3 {

namespace {

[[noreturn]] void library_failed(lxw_error error) {
    const std::string why = error == LXW_ERROR_CREATING_TMPFILE || error == LXW_ERROR_READING_TMPFILE
                                ? "не удалось записать временный файл листа (нет места в папке временных файлов?)"
                            : error == LXW_ERROR_MEMORY_MALLOC_FAILED ? "не хватило памяти"
                                                                      : lxw_strerror(error);
    throw ExportError("Книга .xlsx не построена: " + why + ". Файл не записан.");
}

// The library writes numbers with the C library's printf, which follows LC_NUMERIC: under a
// locale with a decimal comma (the window runs under the user's) it would write "46,75", which
// no reader takes for a number. This thread writes in the C locale while the workbook is built.
class CNumbers {
public:
    CNumbers() : m_c(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr))) {
        if (m_c)
            m_previous = uselocale(m_c);
    }
    ~CNumbers() {
        if (!m_c)
            return;
        uselocale(m_previous);
        freelocale(m_c);
    }
    CNumbers(const CNumbers&) = delete;
    CNumbers& operator=(const CNumbers&) = delete;

private:
    locale_t m_c;
    locale_t m_previous = LC_GLOBAL_LOCALE;
};

// Closes the workbook once, whatever happens while its rows are written.
struct OpenWorkbook {
    lxw_workbook* book;
    ~OpenWorkbook() {
        if (book)
            workbook_close(book);
    }
    lxw_error close() { return workbook_close(std::exchange(book, nullptr)); }
};

} // namespace

XlsxImage::XlsxImage(XlsxImage&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)) {}

XlsxImage::~XlsxImage() {
    if (m_data)
        munmap(m_data, m_size);
    if (m_fd >= 0)
        ::close(m_fd);
}

XlsxImage build_xlsx(const RecordView& view, const std::vector<int>& rows) {
    const int n = static_cast<int>(rows.size());
    if (n > kMaxXlsxRecords)
        throw ExportError(too_many_records_text(n, kMaxXlsxRecords, "книги Excel", false));
    const CNumbers numbers;
    XlsxImage image;
    image.m_fd = memfd_create("ulen3-xlsx", MFD_CLOEXEC);
    if (image.m_fd < 0)
        throw ExportError("Книга .xlsx не построена: не удалось выделить память под файл. Файл не записан.");
    // The library writes a file it opens by name: the memory file's own name in /proc.
    const std::string memoryName = "/proc/self/fd/" + std::to_string(image.m_fd);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // each row goes out as it is written
    OpenWorkbook book{workbook_new_opt(memoryName.c_str(), &options)};
    if (!book.book)
        library_failed(LXW_ERROR_CREATING_XLSX_FILE);
    // A time in SOURCE_DATE_EPOCH (the common convention for reproducible outputs) is the
    // workbook's creation time instead of the clock's: the same page then gives the same bytes.
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        long long seconds = -1;
        const char* end = epoch + std::strlen(epoch);
        if (std::from_chars(epoch, end, seconds).ptr == end && seconds >= 0) {
            lxw_doc_properties properties{};
            properties.created = static_cast<time_t>(seconds);
            workbook_set_properties(book.book, &properties);
        }
    }
    lxw_worksheet* sheet = workbook_add_worksheet(book.book, "ВЕСКОР");
    if (!sheet)
        library_failed(LXW_ERROR_MEMORY_MALLOC_FAILED);
    for (int c = 0; c < kSheetColumnCount; ++c)
        worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), kSheetColumns[c].title, nullptr);
    std::string text;
    for (int k = 0; k < n; ++k) {
        const int row = rows[static_cast<std::size_t>(k)];
        const auto sheetRow = static_cast<lxw_row_t>(k + 1);
        for (int c = 0; c < kSheetColumnCount; ++c) {
            const SheetColumn& column = kSheetColumns[c];
            lxw_error put;
            if (column.number) {
                // An empty field counts as 0, as in the .xls sheet; a stored text that reads as no
                // finite number too, since the format has no cell for it.
                const double value = view.Number(row, column.field);
                put = worksheet_write_number(sheet, sheetRow, static_cast<lxw_col_t>(c),
                                             std::isfinite(value) ? value : 0.0, nullptr);
            } else {
                text = lf_line_ends(view.Text(row, column.field)); // as the .xls sheet keeps it
                if (text.empty())
                    continue;
                put = worksheet_write_string(sheet, sheetRow, static_cast<lxw_col_t>(c), text.c_str(), nullptr);
            }
            if (put != LXW_NO_ERROR)
                library_failed(put);
        }
    }
    const lxw_error closed = book.close();
    if (closed != LXW_NO_ERROR)
        library_failed(closed);
    struct stat st {};
    if (fstat(image.m_fd, &st) != 0 || st.st_size <= 0)
        library_failed(LXW_ERROR_CREATING_XLSX_FILE);
    image.m_size = static_cast<std::size_t>(st.st_size);
    void* mapped = mmap(nullptr, image.m_size, PROT_READ, MAP_SHARED, image.m_fd, 0);
    if (mapped == MAP_FAILED)
        library_failed(LXW_ERROR_MEMORY_MALLOC_FAILED);
    image.m_data = mapped;
    return image;
}

} // namespace ulen3
