#pragma once

// The knowledge base's one exception: every failed seek, read, write, tell or
// close of the experience file and every failed internal check. Callers catch
// everything at their boundary and report in their own fixed words.
struct DatabaseError {};
