// Whether a file can be an item of the join canvas: an uncompressed RGB TIFF that the
// program reads itself, line by line and by line number.
#pragma once

struct LineReader;

// Reads the header and first directory of the file named by the reader's record (its
// source path) into that record. 0 when the file is a TIFF the program's own reader takes
// and its kind is RGB (the record's source form is then the file itself and its region
// the whole image); -1 for anything else: a missing or unreadable file, another format,
// a compressed or damaged TIFF, another kind.
int ProbeJoinSource(LineReader* reader);
