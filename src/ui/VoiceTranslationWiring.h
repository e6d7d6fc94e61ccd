#pragma once

// Connects the voice orchestrator's translation actions to the translation
// clients. Voice and translate sit on one level and never include each other;
// this layer sees both.
class VoiceTranslationWiring {
public:
    // Sets the shared actions' mainland and overseas translations; call once
    // at start-up, before the first dictation.
    static void connectTranslation();
};
