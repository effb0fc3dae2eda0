#pragma once

// Names of the tests' own channels, named objects, sockets and files. Each carries digits of the
// build folder, so that test programs of several build folders that run at the same time on this
// machine never meet on a name; the name is the same in every run from one build folder, so what
// a crashed run left is found stale and replaced.

#include <string>

namespace testnames {

// prefix + "_" + the build folder's digits.
std::string testName(const std::string& prefix);

// prefix, the running test's name and the build folder's digits, with digits spelled in letters
// ('a' + d) and other characters left out: native names keep only the letters of a channel name,
// so leftovers can be searched for by this name.
// CTest runs the tests of one program in parallel processes: the test's name keeps them apart.
std::string letterName(const std::string& prefix);

}  // namespace testnames
