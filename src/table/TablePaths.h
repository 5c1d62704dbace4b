#pragma once

#include <string>

namespace ulen3 {

// The production index beside a table: its name with the extension ".mdx".
std::string index_path_of(const std::string& table);

// Why a command's output may not be written to `out`, in Russian, or empty when it may. An
// output never replaces the table the command reads (`input`, may be empty) or that table's
// index, whatever name reaches them; nor any other dBase table or index, anything that is not a
// regular file, or a file another program holds for writing. `what` begins the text ("Отчёт не
// записан").
std::string output_refusal(const std::string& out, const std::string& input, const std::string& what);

} // namespace ulen3
