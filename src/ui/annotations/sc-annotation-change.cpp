#include "sc-annotation-change.h"

SCAnnotationChange::SCAnnotationChange(SCAnnotationDocument *document,
                                       const SCAnnotationDocument::Annotations &before,
                                       const SCAnnotationDocument::Annotations &after,
                                       const QString &text)
    : QUndoCommand(text)
    , m_document(document)
    , m_before(before)
    , m_after(after)
{ }

void SCAnnotationChange::undo()
{
    m_document->setAnnotations(m_before);
}

void SCAnnotationChange::redo()
{
    m_document->setAnnotations(m_after);
}
