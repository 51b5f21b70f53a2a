// Command-line flags that set a TlvFilesRecord's effects and watermarks (--brightness, --text,
// --image ...), shared by every verb that renders frames. Does no rendering itself.
#pragma once

#include <string>

#include "formats/files_record.h"

enum class TFlagResult { NotRenderFlag, Consumed, Error };

// Looks at argv[i]. A render flag is applied to rec and i moves past it and its value
// (Consumed); a bad or missing value leaves the reason in error (Error); anything else is left
// for the caller (NotRenderFlag, i unchanged).
TFlagResult ConsumeRenderFlag(int argc, char **argv, int &i, TlvFilesRecord &rec,
                              std::string &error);

// One line per flag, for a verb's --help.
std::string RenderFlagsHelp();
