#pragma once

// A settings document, as the tool's `config save` writes it: every setting that a configuration
// holds, by the tool's name, with the value a client reads. A document is applied whole or not
// at all: every value is checked against the sensor's limits before anything is written, only
// what differs is written, in the order the settings depend on each other, and what was written
// is put back when the sensor refuses a later one.

#include "Settings.h"

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Catalogue {

/// A document that cannot be applied as it stands; nothing was written.
struct InvalidDocument : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

/// The writing stopped (the sensor refused a setting, or a step threw); what was written before
/// was put back as far as the sensor allowed.
struct DocumentNotApplied : std::runtime_error {
    DocumentNotApplied(const std::string& text, bool allPutBack)
        : std::runtime_error(text), allPutBack(allPutBack) {}
    bool allPutBack;  // false: putting back a setting failed as well
};

/// What the program that applies a document adds to it; each part may be empty.
struct DocumentSteps {
    /// Settings the program keeps out of the document: they are neither checked nor written.
    std::function<bool(const Setting&)> leaveOut;
    /// Called before each exchange with the sensor, e.g. to restart a time limit.
    std::function<void()> beforeExchange;
    /// Called before each write of a new value and after the last; it throws to stop the
    /// writing, which puts back what was written.
    std::function<void()> beforeWrite;
    /// The words for a failure of the sensor; empty: its what().
    std::function<std::string(const std::exception&)> explain;
};

/// What applying a document did.
struct AppliedDocument {
    std::size_t settings = 0;          // the document's settings, those left out not counted
    std::vector<std::string> written;  // the names of those that differed, in the order written
};

/// Whether a settings document holds `setting`.
bool InDocument(const Setting& setting);

/// What is wrong with `document` before any sensor sees it: not an object, a name that is no
/// setting, or a setting that a document does not hold; empty when nothing is.
std::string DocumentProblem(const nlohmann::json& document);

/// The document of the settings the sensor that `quil` reaches holds now.
nlohmann::json ReadDocument(Quil& quil);

/// Applies `document` to the sensor that `quil` reaches; a choice may be given by its name.
/// @throws InvalidDocument with DocumentProblem's words, or "<name>[.<member>] must be
///         <expected>; got "<given>"" when a value does not fit (nothing is written);
///         DocumentNotApplied "the sensor refused <name> = <value>: <reason>" (or what
///         beforeWrite threw) followed by "; put back: <names>" and "; putting back <name>
///         failed too: <reason>"; what reading the sensor's settings and limits throws.
AppliedDocument ApplyDocument(Quil& quil, const nlohmann::json& document,
                              const DocumentSteps& steps = {});

}  // namespace Varkon::QUILApi::Catalogue
