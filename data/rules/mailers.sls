*Atlas Mailer*
*QuickSender*
*Quick Sender*
*Easy DM*
*Group Mail*
*GroupMail*
*Mach5*
*Mach 5 Mailer*
*Dynamic Mailer*
*Send-Safe*
*Mass Sender*
*MassMail*
*Mass Mail*
*Mass E-mail*
*Bulk Mail*
*BulkMail*
*Bulk E-mail*
*Bulk Email*
*Stealth Mailer*
*StealthMailer*
*WorldMerge*
*MailKing*
*Mail King*
*Email Blaster*
*E-mail Blaster*
*Floodgate*
*Avalanche*
*Direct Email*
*Direct E-mail*
*Dark Mailer*
*Ultimate Mailer*
*Super Mailer*
*Express Mail Sender*
*Remailer*
*Extractor*
*Outlook Express * DM
*Outlook Express *DM
*Microsoft CDO for Windows*
*eGroups Message Poster*
