// Lists a PST store as pst-extractor reads it, one line per folder and per message, for the
// tests to compare with what was stored. Run with NODE_PATH naming the reader set's node_modules.
'use strict';
const { PSTFile } = require('pst-extractor');

function attachmentLine(attachment) {
  const name = attachment.longFilename || attachment.filename || attachment.displayName || '';
  let size = attachment.filesize;
  if (attachment.attachMethod === 5) size = 'embedded';
  return `    attachment ${name} ${size}`;
}

function messageLines(message) {
  const lines = [`  message ${message.subject} | from ${message.senderName} <${message.senderEmailAddress}>`];
  for (let r = 0; r < message.numberOfRecipients; r++) {
    const recipient = message.getRecipient(r);
    if (recipient) lines.push(`    recipient ${recipient.recipientType} ${recipient.displayName} <${recipient.emailAddress}>`);
  }
  for (let a = 0; a < message.numberOfAttachments; a++) lines.push(attachmentLine(message.getAttachment(a)));
  return lines.join('\n');
}

function listFolder(folder, path, out) {
  const messages = [];
  if (folder.contentCount > 0) {
    for (let m = folder.getNextChild(); m != null; m = folder.getNextChild()) messages.push(messageLines(m));
  }
  out.push(`folder ${path} ${messages.length}`);
  messages.sort();
  out.push(...messages);
  if (folder.hasSubfolders) {
    for (const child of folder.getSubFolders()) listFolder(child, `${path}/${child.displayName}`, out);
  }
}

const file = new PSTFile(process.argv[2]);
const out = [];
listFolder(file.getRootFolder(), '', out);
process.stdout.write(out.join('\n') + '\n');
