// The parts of the editor that are still to come: saving the article and templates,
// categories and item specifics, and the picture slots. Until they are written the editor
// shows and fills every page but cannot save: OK closes it like Cancel.
#include "editor/addarticle.h"

void AddArticle::accept()
{
    SaveSettings();
    done(QDialog::Rejected);
}

void AddArticle::setDetaultFromSelectedCat() { }

void AddArticle::createItemSpecifics() { }

void AddArticle::generateImages() { }
