#pragma once

// An .xlsx workbook of chosen rows of a page, built in memory by the Office Open XML writer
// library and then written whole like every other file of the program.

#include <cstddef>
#include <vector>

namespace ulen3 {

class RecordView;

// The bytes of a built workbook, in a memory file of their own until they are written.
class XlsxImage {
public:
    XlsxImage() = default;
    XlsxImage(XlsxImage&& other) noexcept;
    XlsxImage& operator=(XlsxImage&&) = delete;
    ~XlsxImage();
    const void* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    friend XlsxImage build_xlsx(const RecordView& view, const std::vector<int>& rows);
    int m_fd = -1;
    void* m_data = nullptr;
    std::size_t m_size = 0;
};

// The sheet "ВЕСКОР" as the .xls export has it (the same titles, numbers as numbers, texts as
// inline strings, CR LF as LF, the default style and widths), one row per given row of the view.
// Throws ExportError when the rows do not fit a sheet or the library fails.
XlsxImage build_xlsx(const RecordView& view, const std::vector<int>& rows);

} // namespace ulen3
