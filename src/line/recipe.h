// A recipe: the parameter blocks of a line's sensors for one product, by sensor id and
// parameter name, as varno-line keeps them in a JSON file:
//   {"recipe": NAME, "sensors": {ID: {PARAMETER: VALUE, ...}, ...}}
// Every sensor has all 15 parameters of the sensor layer's table, each in its range.
#pragma once

#include "sensor/protocol.h"

#include <array>
#include <map>
#include <string>

namespace line {

using Block = std::array<unsigned char, sensor::ParamLen>;

struct Recipe {
    std::string name;
    std::map<std::string, Block> sensors; // by id, in id order
};

// Reads a recipe from JSON text. False, with `error` naming the sensor and the parameter
// at fault, when it breaks the table (a missing or unknown parameter, a value out of its
// range or not a whole number) or is no recipe at all.
bool ParseRecipe(const std::string& json, Recipe& r, std::string& error);
// Reads the file `path` (a regular file only). False, with `error`, as above or when it
// cannot be read.
bool ReadRecipe(const std::string& path, Recipe& r, std::string& error);
// The recipe as JSON, parameters by name in block order.
std::string RecipeJson(const Recipe& r);
// A block by name, as JSON: {"threshold": 128, ...}.
std::string NamedBlock(const Block& b);

} // namespace line
