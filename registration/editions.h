#pragma once

// One edition of the product, as the update service knows it.
struct Edition {
  const char* displayName;         // written to the registry and printed
  const char* executableFileName;  // its key under App Paths
  char identifierDigit;            // makes its registration identifier
};

// In the order they are tried: the first one installed is registered.
constexpr Edition kEditions[] = {
    {"Torvo Enterprise", "torvohub.exe", '0'},
    {"Torvo Standard", "torvo.exe", '2'},
};
