// Rows as plain strings, into and out of a RowStore: how tests build inputs
// for the writers and compare what the engine kept.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "parser/row_store.h"

namespace vestle {

using RowTexts = std::vector<std::vector<std::string>>;

inline void append_row(RowStore& store, const std::vector<std::string>& fields) {
  for (const std::string& field : fields) {
    store.append_bytes(field.data(), field.size());
    store.finish_field();
  }
  store.finish_row();
}

inline RowStore store_of(const RowTexts& rows) {
  RowStore store;
  for (const auto& row : rows) append_row(store, row);
  return store;
}

inline RowTexts rows_of(const RowStore& store) {
  RowTexts rows;
  for (std::size_t i = 0; i < store.row_count(); ++i) rows.push_back(to_strings(store.row(i)));
  return rows;
}

}  // namespace vestle
