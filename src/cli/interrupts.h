#pragma once
// The signals that end a long operation cleanly: SIGINT and SIGTERM only raise a flag that the
// operation polls, so the lidar is released and files are flushed before the program ends.

namespace cli {

// From here on SIGINT and SIGTERM only raise a flag that interrupted() reports.
void catchInterrupts();
bool interrupted();

}  // namespace cli
