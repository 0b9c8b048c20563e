#include "SettingsDocument.h"

#include "Document.h"

namespace Varkon::QuilGateway {

std::size_t ApplySettingsDocument(Varkon::QUILApi::Quil& quil, const nlohmann::json& document) {
    Varkon::QUILApi::Catalogue::DocumentSteps steps;
    // The settings StreamOutputAim writes and puts back.
    steps.leaveOut = [](const Varkon::QUILApi::Catalogue::Setting& setting) {
        return setting.resource == "ProcessInterfaces" || setting.resource == "UDPStreamData";
    };
    return Varkon::QUILApi::Catalogue::ApplyDocument(quil, document, steps).written.size();
}

}  // namespace Varkon::QuilGateway
