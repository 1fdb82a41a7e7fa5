#include "model/MainInterface_Modul.h"

#include "model/MainInterface.h"

namespace ornbrook {

std::shared_ptr<MainInterface> TheMainInterface;

void CreateMainInterface() {
    TheMainInterface = std::make_shared<MainInterface>();
}

void DestroyMainInterface() {
    if (TheMainInterface) {
        // Nothing is brought to the window's thread any more.
        TheMainInterface->SetCheckWakeUp({});
        // Results that have arrived are kept and written with whatever else is
        // unsaved; checks still under way are stopped.
        TheMainInterface->DeliverCheckResults();
        TheMainInterface->SaveIfChanged();
        TheMainInterface->Cancel();
        // Nothing asked for is lost, and a failure is told, as at any save.
        TheMainInterface->FinishSaves();
    }
    TheMainInterface.reset();
}

} // namespace ornbrook
