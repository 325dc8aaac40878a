#pragma once
// A small table with one field of every column type, shared by the fuzz targets and the seeds.

#include "tables/table_file_writer.h"

namespace ab::fuzz {

TableData SampleTable();

}  // namespace ab::fuzz
