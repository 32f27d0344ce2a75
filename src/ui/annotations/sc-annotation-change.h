#pragma once

#include "sc-annotation-document.h"

#include <QUndoCommand>

// One step of the history: the document's marks before and after it.
class SCAnnotationChange : public QUndoCommand
{
public:
    SCAnnotationChange(SCAnnotationDocument *document,
                       const SCAnnotationDocument::Annotations &before,
                       const SCAnnotationDocument::Annotations &after, const QString &text);

    void undo() override;
    void redo() override;

private:
    SCAnnotationDocument *m_document;
    SCAnnotationDocument::Annotations m_before;
    SCAnnotationDocument::Annotations m_after;
};
